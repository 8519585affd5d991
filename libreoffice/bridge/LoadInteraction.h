#pragma once
// The interaction handler given to every load: the office must never show its
// own dialogs for the program's documents. Each request is recorded and
// aborted; the loader then reports it (password, lock, damage) so the
// program can ask its own questions and load again.

#include <com/sun/star/task/XInteractionHandler.hpp>
#include <cppuhelper/implbase1.hxx>

#include <mutex>
#include <string>

class LoadInteraction : public cppu::WeakImplHelper1<css::task::XInteractionHandler> {
 public:
  enum class Seen { Nothing, Password, WrongPassword, Locked, Other };

  void SAL_CALL handle(const css::uno::Reference<css::task::XInteractionRequest>& request) override;

  Seen What() const;
  std::string Detail() const;  // the lock's owner, or the office's own message

 private:
  // Guards the record: the office calls the handler on a bridge thread while
  // the loading call waits on the worker thread.
  mutable std::mutex lock_;
  Seen seen_ = Seen::Nothing;
  std::string detail_;
};
