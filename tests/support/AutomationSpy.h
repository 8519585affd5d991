#pragma once
// Wraps a registered automation server so tests can count the calls the
// application makes and make chosen calls fail, while everything else goes
// through to the real server. Objects returned by calls are wrapped too.

#include "automation/ComObj.h"
#include "automation/OleVariant.h"

#include <QString>

#include <functional>
#include <map>
#include <memory>

class AutomationSpy : public std::enable_shared_from_this<AutomationSpy> {
 public:
  // Returns true to make the call fail with EOleError instead of reaching the server.
  using FailRule = std::function<bool(const QString& member, CallKind kind, const std::vector<OleVariant>& args)>;

  // Re-registers progId so that new instances come wrapped.
  static std::shared_ptr<AutomationSpy> Install(const QString& progId, AutomationServerFactory real) {
    auto spy = std::make_shared<AutomationSpy>();
    spy->real_ = std::move(real);
    std::weak_ptr<AutomationSpy> weak = spy;
    RegisterAutomationServer(progId, [weak]() -> std::shared_ptr<IDispatchObject> {
      auto self = weak.lock();
      if (!self) return nullptr;
      ++self->instances;
      return std::make_shared<Proxy>(self, self->real_());
    });
    return spy;
  }

  int Count(const QString& member) const {
    auto it = calls.find(member.toLower());
    return it == calls.end() ? 0 : it->second;
  }

  int instances = 0;
  std::map<QString, int> calls;  // by lower-cased member name
  FailRule failWhen;
  // The same, failing as a server whose workbook has gone (EServerGone).
  FailRule goneWhen;

 private:
  class Proxy : public IDispatchObject {
   public:
    Proxy(std::shared_ptr<AutomationSpy> spy, std::shared_ptr<IDispatchObject> target)
        : spy_(std::move(spy)), target_(std::move(target)) {}
    OleVariant Invoke(const QString& member, CallKind kind, const std::vector<OleVariant>& args) override {
      ++spy_->calls[member.toLower()];
      if (spy_->failWhen && spy_->failWhen(member, kind, args)) throw EOleError("Injected failure of " + member);
      if (spy_->goneWhen && spy_->goneWhen(member, kind, args)) {
        throw EServerGone("The workbook is no longer open in the spreadsheet");
      }
      // A wrapped object handed back as an argument (a sheet to add another
      // after, say) reaches the server as its own object again.
      std::vector<OleVariant> unwrapped = args;
      for (OleVariant& arg : unwrapped) {
        if (auto* proxy = dynamic_cast<Proxy*>(arg.kind() == OleVariant::Kind::Object ? arg.ToObject().get() : nullptr)) {
          arg = OleVariant(proxy->target_);
        }
      }
      OleVariant result = target_->Invoke(member, kind, unwrapped);
      if (result.kind() == OleVariant::Kind::Object) return OleVariant(std::make_shared<Proxy>(spy_, result.ToObject()));
      return result;
    }

   private:
    std::shared_ptr<AutomationSpy> spy_;
    std::shared_ptr<IDispatchObject> target_;
  };

  AutomationServerFactory real_;
};
