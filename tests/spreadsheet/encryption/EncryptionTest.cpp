// Workbooks protected with a password to open, made by LibreOffice Calc and
// Apache POI (tests/fixtures/xls/make-encrypted-fixtures.sh): opened with the
// default password or the user's, appended to, saved encrypted the same way,
// and read back by this reader and, decrypted, by xlrd.

#include "SpreadsheetTestSupport.h"
#include "spreadsheet/encryption/Rc4.h"
#include "spreadsheet/encryption/WorkbookEncryption.h"
#include "spreadsheet/server/Workbook.h"
#include "spreadsheet/xls/CompoundFile.h"

#include <QJsonArray>
#include <QJsonObject>

#include <cstdio>

namespace {

using SheetTest::ScratchDir;

struct Fixture {
  const char* file;
  EncryptionMethod method;
  const char* password;  // empty: the default password
};

const Fixture kFixtures[] = {
    {"encrypted-calc-structure.xls", EncryptionMethod::Rc4, ""},
    {"encrypted-calc-password.xls", EncryptionMethod::Rc4, "Klasse7a"},
    {"encrypted-poi-xor.xls", EncryptionMethod::XorObfuscation, "Klasse7b"},
    {"encrypted-poi-xor-default.xls", EncryptionMethod::XorObfuscation, ""},
    {"encrypted-poi-cryptoapi.xls", EncryptionMethod::Rc4CryptoApi, "Klasse7b"},
    {"encrypted-poi-cryptoapi-default.xls", EncryptionMethod::Rc4CryptoApi, ""},
};

// Answers with the passwords given, in turn, and records every question.
struct Asker {
  QStringList answers;
  std::vector<std::pair<QString, bool>> asked;  // file name, after a wrong one
  PasswordSource Source() {
    return [this](const QString& fileName, bool again) -> std::optional<QString> {
      asked.emplace_back(fileName, again);
      if (answers.isEmpty()) return std::nullopt;
      return answers.takeFirst();
    };
  }
};

Biff::Bytes StreamOf(const QString& path, CompoundDocument* document = nullptr) {
  Biff::Bytes stream;
  CompoundDocument read = CompoundFile::Read(path, stream);
  if (document) *document = std::move(read);
  return stream;
}

void WriteCompound(const QString& path, const CompoundDocument& document, const Biff::Bytes& stream) {
  FILE* file = std::fopen(path.toLocal8Bit().constData(), "wb");
  ASSERT_NE(file, nullptr);
  CompoundFile::Write(file, path, document, [&stream](Biff::ByteSink& sink) { sink.Write(stream); });
  std::fclose(file);
}

// Rewrites the workbook stream of a file in place.
void Patch(const QString& path, const std::function<void(Biff::Bytes&)>& change) {
  CompoundDocument document;
  Biff::Bytes stream = StreamOf(path, &document);
  change(stream);
  WriteCompound(path, document, stream);
}

Biff::Record FirstRecord(const Biff::Bytes& stream, uint16_t type) {
  Biff::RecordCursor cursor(stream, 0);
  Biff::Record record;
  while (cursor.Next(record)) {
    if (record.type == type) return record;
  }
  ADD_FAILURE() << "no record " << type;
  return {};
}

// A copy that xlrd can read: decrypted by this reader, its FILEPASS turned
// into a record readers skip (of the same size, so no position moves).
QString PlainCopy(const QString& path, const QString& password, const QString& out) {
  CompoundDocument document;
  Biff::Bytes stream = StreamOf(path, &document);
  const std::unique_ptr<WorkbookEncryption> encryption = WorkbookEncryption::Find(stream);
  EXPECT_TRUE(encryption && encryption->Unlock(password)) << path.toStdString();
  if (!encryption) return out;
  encryption->Decrypt(stream);
  Biff::PutU16(stream.data() + FirstRecord(stream, Biff::kFilePass).offset, 0x0FFF);
  WriteCompound(out, document, stream);
  return out;
}

TEST(Rc4, MatchesThePublishedTestVectors) {
  const struct {
    const char* key;
    const char* plain;
    QByteArray cipher;
  } vectors[] = {{"Key", "Plaintext", QByteArray::fromHex("BBF316E8D940AF0AD3")},
                 {"Wiki", "pedia", QByteArray::fromHex("1021BF0420")},
                 {"Secret", "Attack at dawn", QByteArray::fromHex("45A01F645FC35B383552544B9BF5")}};
  for (const auto& v : vectors) {
    QByteArray data(v.plain);
    Rc4(std::span(reinterpret_cast<const uint8_t*>(v.key), std::strlen(v.key)))
        .Apply(reinterpret_cast<uint8_t*>(data.data()), static_cast<size_t>(data.size()));
    EXPECT_EQ(data.toHex(), v.cipher.toHex()) << v.key;
  }
  // Skipping is the keystream run over without data.
  QByteArray tail("intext");
  Rc4 skipping(std::span(reinterpret_cast<const uint8_t*>("Key"), 3));
  skipping.Skip(3);
  skipping.Apply(reinterpret_cast<uint8_t*>(tail.data()), 6);
  EXPECT_EQ(tail.toHex(), QByteArray::fromHex("E8D940AF0AD3").toHex());
}

class EncryptedFixture : public ::testing::TestWithParam<Fixture> {
 protected:
  QString Copy() const { return dir_.CopyFixture(QString::fromLatin1(GetParam().file)); }
  QString Password() const {
    const QString given = QString::fromLatin1(GetParam().password);
    return given.isEmpty() ? kDefaultWorkbookPassword : given;
  }
  bool AsksForPassword() const { return std::strlen(GetParam().password) > 0; }
  std::unique_ptr<Workbook> OpenWithPassword(const QString& path) {
    asker_.answers = {Password()};
    return Workbook::Open(path, asker_.Source());
  }

  ScratchDir dir_;
  Asker asker_;
};

TEST_P(EncryptedFixture, OpensWithoutAskingOnlyWhenTheDefaultPasswordFits) {
  const std::unique_ptr<Workbook> book = OpenWithPassword(Copy());
  EXPECT_EQ(book->Encryption(), GetParam().method);
  EXPECT_EQ(asker_.asked.size(), AsksForPassword() ? 1u : 0u);
  if (AsksForPassword()) {
    EXPECT_EQ(asker_.asked[0], std::make_pair(QString::fromLatin1(GetParam().file), false));
  }
  const Worksheet& sheet = book->Sheet(0);
  EXPECT_EQ(sheet.Cell(0, 0).text, QStringLiteral("Name"));
  EXPECT_EQ(sheet.Cell(5, 0).text, QStringLiteral("Pupil 5"));
  EXPECT_GT(sheet.Cell(5, 1).number, 0);
  EXPECT_EQ(book->Sheet(1).Cell(2, 1).text, QStringLiteral("left alone"));
}

using PasswordFixture = EncryptedFixture;

TEST_P(PasswordFixture, AWrongPasswordIsAskedAgainAndGivingUpNamesTheReason) {
  const QString path = Copy();
  asker_.answers = {QStringLiteral("wrong"), Password().toUpper(), Password()};
  const std::unique_ptr<Workbook> book = Workbook::Open(path, asker_.Source());
  ASSERT_EQ(asker_.asked.size(), 3u);
  EXPECT_FALSE(asker_.asked[0].second);
  EXPECT_TRUE(asker_.asked[1].second);
  EXPECT_TRUE(asker_.asked[2].second);
  EXPECT_EQ(book->Sheet(0).Cell(1, 0).text, QStringLiteral("Pupil 1"));

  asker_.answers = {QStringLiteral("wrong")};
  try {
    Workbook::Open(path, asker_.Source());
    FAIL() << "opened without its password";
  } catch (const WorkbookError& e) {
    EXPECT_EQ(e.Message(), QStringLiteral("Cannot open \"%1\": it is protected with a password to open, and none was given.")
                               .arg(QDir::toNativeSeparators(path)));
    EXPECT_FALSE(e.Message().contains(QStringLiteral("wrong")));
  }
}

TEST_P(EncryptedFixture, AppendedRowsAreSavedEncryptedTheSameWayAndReadBack) {
  const QString path = Copy();
  const QString before = PlainCopy(path, Password(), dir_.Path(QStringLiteral("plain-before.xls")));
  {
    const std::unique_ptr<Workbook> book = OpenWithPassword(path);
    Worksheet& sheet = book->Sheet(0);
    sheet.SetText(6, 0, QStringLiteral("Appended pupil"));
    sheet.SetNumber(6, 1, 64);
    for (uint32_t col = 2; col < 66; ++col) sheet.SetText(6, col, QStringLiteral(" "));
    sheet.SetProtected(true);
    book->Save();
  }
  // check-encrypted-with-office.sh collects the saved files for the office programs.
  if (const QByteArray keep = qgetenv("CFW_KEEP_SAVED_WORKBOOKS"); !keep.isEmpty()) {
    QFile::copy(path, QString::fromLocal8Bit(keep) + QLatin1Char('/') + QLatin1String(GetParam().file));
  }
  // Encrypted on disk: the new text is nowhere in the file's bytes.
  const QByteArray stored = SheetTest::ReadAll(path);
  EXPECT_FALSE(stored.contains("Appended pupil"));
  const std::unique_ptr<WorkbookEncryption> encryption = WorkbookEncryption::Find(StreamOf(path));
  ASSERT_TRUE(encryption);
  EXPECT_EQ(encryption->Method(), GetParam().method);
  EXPECT_FALSE(encryption->Unlock(QStringLiteral("wrong")));
  EXPECT_TRUE(encryption->Unlock(Password()));

  const std::unique_ptr<Workbook> again = OpenWithPassword(path);
  EXPECT_EQ(again->Sheet(0).Cell(6, 0).text, QStringLiteral("Appended pupil"));
  EXPECT_EQ(again->Sheet(0).Cell(6, 1).number, 64);
  EXPECT_TRUE(again->Sheet(0).Protected());

  // xlrd on the decrypted files: only the new row differs, and the
  // protection is in the records.
  const QString after = PlainCopy(path, Password(), dir_.Path(QStringLiteral("plain-after.xls")));
  const SheetTest::ProbeResult compare = SheetTest::Probe({QStringLiteral("compare"), before, after, QStringLiteral("6")});
  EXPECT_EQ(compare.exitCode, 0) << compare.out.toStdString() << compare.err.toStdString();
  const QJsonArray protection = SheetTest::ProbeJson({QStringLiteral("protection"), after}).array();
  EXPECT_EQ(protection, QJsonArray({true, false}));
  const QJsonArray sheets = SheetTest::ProbeJson({QStringLiteral("values"), after}).array();
  EXPECT_TRUE(sheets[0].toObject()[QStringLiteral("cells")].toArray().contains(
      QJsonArray({6, 0, 1, QStringLiteral("Appended pupil")})));
}

std::string FixtureName(const ::testing::TestParamInfo<Fixture>& info) {
  QString name = QString::fromLatin1(info.param.file).section(QLatin1Char('.'), 0, 0);
  return name.remove(QLatin1Char('-')).toStdString();
}

INSTANTIATE_TEST_SUITE_P(Producers, EncryptedFixture, ::testing::ValuesIn(kFixtures), FixtureName);
INSTANTIATE_TEST_SUITE_P(Producers, PasswordFixture,
                         ::testing::Values(kFixtures[1], kFixtures[2], kFixtures[4]), FixtureName);

TEST(EncryptedSave, GivesANewSaltUnlessOtherStreamsMayUseTheOldKey) {
  ScratchDir dir;
  // Calc's file holds only plain companion streams: a new salt each save.
  const QString calc = dir.CopyFixture(QStringLiteral("encrypted-calc-structure.xls"));
  const Biff::Bytes calcBefore = StreamOf(calc);
  Workbook::Open(calc)->Save();
  const Biff::Record oldPass = FirstRecord(calcBefore, Biff::kFilePass);
  const Biff::Bytes calcAfter = StreamOf(calc);
  const Biff::Record newPass = FirstRecord(calcAfter, Biff::kFilePass);
  ASSERT_EQ(oldPass.data.size(), newPass.data.size());
  EXPECT_FALSE(std::equal(oldPass.data.begin(), oldPass.data.end(), newPass.data.begin()));
  EXPECT_TRUE(std::equal(oldPass.data.begin(), oldPass.data.begin() + 6, newPass.data.begin()));  // same method

  // POI's CryptoAPI file keeps its document properties in an "encryption"
  // stream under the old key: the record stays as it was.
  const QString poi = dir.CopyFixture(QStringLiteral("encrypted-poi-cryptoapi-default.xls"));
  const Biff::Bytes poiBefore = StreamOf(poi);
  Workbook::Open(poi)->Save();
  const Biff::Bytes poiAfter = StreamOf(poi);
  const Biff::Record kept = FirstRecord(poiAfter, Biff::kFilePass);
  const Biff::Record original = FirstRecord(poiBefore, Biff::kFilePass);
  EXPECT_TRUE(std::equal(original.data.begin(), original.data.end(), kept.data.begin(), kept.data.end()));
}

TEST(EncryptedOpen, WhatCannotBeReadIsRefusedWithTheTruthfulReason) {
  ScratchDir dir;
  const struct {
    const char* fixture;
    std::function<void(Biff::Record&, Biff::Bytes&)> change;
    QString reason;
  } cases[] = {
      {"encrypted-calc-structure.xls",
       [](Biff::Record& r, Biff::Bytes& s) { Biff::PutU16(s.data() + r.offset + 4, 7); },
       QStringLiteral("it is encrypted with an unknown method (type 7), which this program cannot read")},
      {"encrypted-calc-structure.xls",
       [](Biff::Record& r, Biff::Bytes& s) { Biff::PutU16(s.data() + r.offset + 6, 5); },
       QStringLiteral("it is encrypted with an unknown kind of RC4 encryption (version 5.1), which this program cannot read")},
      {"encrypted-poi-cryptoapi-default.xls",  // AES-128 named in the header
       [](Biff::Record& r, Biff::Bytes& s) { Biff::PutU32(s.data() + r.offset + 4 + 22, 0x660E); },
       QStringLiteral("it is encrypted with RC4 CryptoAPI using the cipher 0x660e, which this program cannot read")},
      {"encrypted-poi-cryptoapi-default.xls",  // a header that runs past the record
       [](Biff::Record& r, Biff::Bytes& s) { Biff::PutU32(s.data() + r.offset + 4 + 10, 4000); },
       QStringLiteral("it is encrypted, but its encryption header is damaged")},
  };
  for (const auto& c : cases) {
    const QString path = dir.Path(QStringLiteral("changed.xls"));
    QFile::remove(path);
    QFile::copy(SheetTest::FixturesDir() + QLatin1Char('/') + QLatin1String(c.fixture), path);
    QFile(path).setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    Patch(path, [&c](Biff::Bytes& stream) {
      Biff::Record filePass = FirstRecord(stream, Biff::kFilePass);
      c.change(filePass, stream);
    });
    try {
      Workbook::Open(path);
      ADD_FAILURE() << "opened: " << c.reason.toStdString();
    } catch (const WorkbookError& e) {
      EXPECT_EQ(e.Message(), QStringLiteral("Cannot open \"%1\": %2.").arg(QDir::toNativeSeparators(path), c.reason));
    }
  }
}

}  // namespace
