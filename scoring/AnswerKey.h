#pragma once
// The answer key: the values decoded from the key sheet, column 1 first, and
// the columns that hold the student ID. The questions are the columns marked
// on the key, outside the ID columns; a column left blank is not scored.

#include <QString>
#include <QStringList>

#include <vector>

// How the sheets were read: digits of the marked bubbles ("34" for two marks)
// or one character per column.
enum class MarkMode { Multiple, Single };

// What an unmarked column decodes to.
inline const QString kUnmarked = QStringLiteral(" ");

struct Question {
  int number = 0;  // 1-based, in column order: the numbers the teacher sees
  int column = 0;  // sheet 1's column, 1 for column A
  QString key;     // the decoded value that scores
};

class AnswerKey {
 public:
  // idFrom..idTo: the student ID columns, 0 for none (either 0, or a range
  // the wrong way round, means none).
  AnswerKey(QStringList values, int idFrom, int idTo, MarkMode mode);

  const QStringList& Values() const { return values_; }
  int IdFrom() const { return idFrom_; }
  int IdTo() const { return idTo_; }
  bool HasIdColumns() const { return idFrom_ > 0; }
  MarkMode Mode() const { return mode_; }
  const std::vector<Question>& Questions() const { return questions_; }
  int FirstQuestionColumn() const;  // 0 without questions
  int LastQuestionColumn() const;

  // The ID of a decoded sheet: its ID columns' values joined, blanks left out.
  QString StudentId(const QStringList& values) const;

  bool operator==(const AnswerKey& other) const;

 private:
  QStringList values_;
  int idFrom_ = 0;
  int idTo_ = 0;
  MarkMode mode_;
  std::vector<Question> questions_;
};

// "Answer key: 40 questions." / "Answer key: 1 question."
QString DescribeKey(const AnswerKey& key);
