#pragma once
// The settings store: an INI file of the platform's profile kind.
//
// Section and key names match without regard to case, absent keys yield the
// caller's default, values are read up to 2047 characters, writes replace a value
// in place and create the file, the section and the key as needed. The file is
// opened for each single read or write and closed straight after; nothing is
// cached. A write replaces the whole file atomically (temporary file in the same
// folder, then rename), so a crash never leaves half a settings file.

#include <QString>
#include <stdexcept>
#include <string>

// Raised when a value cannot be stored; the message names the file's full path.
class ESettingsWriteError : public std::runtime_error {
 public:
  explicit ESettingsWriteError(const QString& fullPath);
};

class IniFile {
 public:
  static constexpr int kMaxValueLength = 2047;

  explicit IniFile(QString fullPath);

  const QString& FileName() const { return path_; }

  QString ReadString(const QString& section, const QString& key, const QString& defaultValue) const;
  // Decimal, or hexadecimal after "0x"; anything else gives the default.
  int ReadInteger(const QString& section, const QString& key, int defaultValue) const;

  void WriteString(const QString& section, const QString& key, const QString& value);
  void WriteInteger(const QString& section, const QString& key, int value);

 private:
  QString path_;
};

// The integer rule of the store on its own: optional sign, decimal digits, or
// "0x"/"$" and hexadecimal digits; no other characters. Empty on failure.
bool ParseProfileInteger(const QString& text, int& result);
