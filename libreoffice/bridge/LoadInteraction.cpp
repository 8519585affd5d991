#include "LoadInteraction.h"

#include <com/sun/star/document/LockedDocumentRequest.hpp>
#include <com/sun/star/document/LockFileCorruptRequest.hpp>
#include <com/sun/star/document/LockFileIgnoreRequest.hpp>
#include <com/sun/star/task/PasswordRequest.hpp>
#include <com/sun/star/task/XInteractionAbort.hpp>
#include <com/sun/star/uno/Exception.hpp>

using namespace css;
using rtl::OUString;

void LoadInteraction::handle(const uno::Reference<task::XInteractionRequest>& request) {
  const uno::Any what = request->getRequest();
  Seen seen = Seen::Other;
  std::string detail;
  task::PasswordRequest password;
  document::LockedDocumentRequest locked;
  uno::Exception other;
  if (what >>= password) {
    seen = password.Mode == task::PasswordRequestMode_PASSWORD_REENTER ? Seen::WrongPassword : Seen::Password;
  } else if (what >>= locked) {
    seen = Seen::Locked;
    detail = locked.UserInfo.toUtf8().getStr();
  } else if (what.has<document::LockFileIgnoreRequest>() || what.has<document::LockFileCorruptRequest>()) {
    seen = Seen::Locked;
  } else if (what >>= other) {
    detail = other.Message.toUtf8().getStr();
  }
  {
    const std::lock_guard<std::mutex> guard(lock_);
    // The first request says why a load failed; later ones follow from it.
    if (seen_ == Seen::Nothing) {
      seen_ = seen;
      detail_ = detail;
    }
  }
  const uno::Sequence<uno::Reference<task::XInteractionContinuation>> choices = request->getContinuations();
  for (const auto& choice : choices) {
    uno::Reference<task::XInteractionAbort> abort(choice, uno::UNO_QUERY);
    if (abort.is()) {
      abort->select();
      return;
    }
  }
}

LoadInteraction::Seen LoadInteraction::What() const {
  const std::lock_guard<std::mutex> guard(lock_);
  return seen_;
}

std::string LoadInteraction::Detail() const {
  const std::lock_guard<std::mutex> guard(lock_);
  return detail_;
}
