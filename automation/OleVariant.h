#pragma once
// Late-bound automation values: what a call to a server takes and gives back.
// A variant is one of empty, boolean, 32-bit integer, double, text or a
// reference to a server object; calls on a reference go to the object's one
// Invoke entry point by member name.

#include <QString>

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

class IDispatchObject;

// Get is the combined method-or-property get of a call without arguments.
enum class CallKind { Get, IndexedGet, Put, Method };

// A failure reported by a server: an unknown member, wrong arguments, or the
// server's own error. what() is UTF-8.
class EOleError : public std::runtime_error {
 public:
  explicit EOleError(const QString& message);
  QString Message() const { return QString::fromUtf8(what()); }
};

// The document or the server behind a reference has gone: the user closed
// the workbook's window, or the server ended, was killed or stopped
// answering. Nothing more can be written there; what the caller still holds
// must be kept elsewhere.
class EServerGone : public EOleError {
 public:
  using EOleError::EOleError;
};

// The server cannot be had on this machine: it is not installed, or it did
// not start in time. The message says what to do about it.
class EServerUnavailable : public EOleError {
 public:
  using EOleError::EOleError;
};

// A call on a value that is not an object reference, or a conversion the
// value cannot make.
class EVariantError : public std::runtime_error {
 public:
  EVariantError();
  explicit EVariantError(const QString& message);
};

class OleVariant {
 public:
  enum class Kind { Empty, Boolean, Integer, Double, Text, Object };

  OleVariant() = default;
  OleVariant(bool value);             // NOLINT(google-explicit-constructor)
  OleVariant(int32_t value);          // NOLINT(google-explicit-constructor)
  OleVariant(double value);           // NOLINT(google-explicit-constructor)
  OleVariant(const QString& value);   // NOLINT(google-explicit-constructor)
  OleVariant(const char* value);      // NOLINT(google-explicit-constructor)
  OleVariant(std::shared_ptr<IDispatchObject> object);  // NOLINT(google-explicit-constructor)

  Kind kind() const { return static_cast<Kind>(value_.index()); }
  bool IsEmpty() const { return kind() == Kind::Empty; }

  // Like the platform's VarToStr: Empty gives "", whole doubles print
  // without ".0", booleans as "True"/"False".
  QString ToText() const;
  bool ToBool() const;
  int32_t ToInt() const;
  double ToDouble() const;
  // The object behind a reference; nullptr for any other kind.
  const std::shared_ptr<IDispatchObject>& ToObject() const;

  // Late-bound calls. On a value that is not an object reference they throw
  // EVariantError("Invalid variant operation").
  OleVariant Get(const QString& member) const;
  OleVariant Get(const QString& member, std::initializer_list<OleVariant> args) const;
  void Put(const QString& member, const OleVariant& value) const;
  OleVariant Call(const QString& member, std::initializer_list<OleVariant> args = {}) const;

  // The same calls with arguments already in a vector.
  OleVariant Invoke(const QString& member, CallKind kind, const std::vector<OleVariant>& args) const;

 private:
  IDispatchObject& Target() const;

  // The alternatives' order follows Kind.
  std::variant<std::monostate, bool, int32_t, double, QString, std::shared_ptr<IDispatchObject>> value_;
};

class IDispatchObject {
 public:
  virtual ~IDispatchObject();
  virtual OleVariant Invoke(const QString& member, CallKind kind, const std::vector<OleVariant>& args) = 0;
};
