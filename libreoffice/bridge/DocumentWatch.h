#pragma once
// Notices when one of the program's documents closes in the office (the user
// closed its window, or the office is ending), so that the next call says so
// instead of writing into nothing.

#include <com/sun/star/util/XCloseListener.hpp>
#include <cppuhelper/implbase1.hxx>

#include <atomic>

class DocumentWatch : public cppu::WeakImplHelper1<css::util::XCloseListener> {
 public:
  void SAL_CALL queryClosing(const css::lang::EventObject& /*source*/, sal_Bool /*ownership*/) override {}
  void SAL_CALL notifyClosing(const css::lang::EventObject& /*source*/) override { closed_ = true; }
  void SAL_CALL disposing(const css::lang::EventObject& /*source*/) override { closed_ = true; }

  bool Closed() const { return closed_; }
  void MarkClosed() { closed_ = true; }

 private:
  // Set on a bridge thread when the office calls in, read on the worker.
  std::atomic<bool> closed_{false};
};
