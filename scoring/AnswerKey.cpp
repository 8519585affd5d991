#include "scoring/AnswerKey.h"

AnswerKey::AnswerKey(QStringList values, int idFrom, int idTo, MarkMode mode)
    : values_(std::move(values)), mode_(mode) {
  if (idFrom > 0 && idTo >= idFrom) {
    idFrom_ = idFrom;
    idTo_ = idTo;
  }
  for (int column = 1; column <= values_.size(); ++column) {
    const QString& value = values_[column - 1];
    const bool idColumn = idFrom_ > 0 && column >= idFrom_ && column <= idTo_;
    // A value made of blanks only is unmarked, however the machine padded it.
    if (idColumn || value.trimmed().isEmpty()) continue;
    questions_.push_back({static_cast<int>(questions_.size()) + 1, column, value});
  }
}

int AnswerKey::FirstQuestionColumn() const { return questions_.empty() ? 0 : questions_.front().column; }

int AnswerKey::LastQuestionColumn() const { return questions_.empty() ? 0 : questions_.back().column; }

QString AnswerKey::StudentId(const QStringList& values) const {
  QString id;
  for (int column = idFrom_; idFrom_ > 0 && column <= idTo_ && column <= values.size(); ++column) {
    id += QString(values[column - 1]).remove(QLatin1Char(' '));
  }
  return id;
}

bool AnswerKey::operator==(const AnswerKey& other) const {
  return values_ == other.values_ && idFrom_ == other.idFrom_ && idTo_ == other.idTo_ && mode_ == other.mode_;
}

QString DescribeKey(const AnswerKey& key) {
  const auto count = key.Questions().size();
  return count == 1 ? QStringLiteral("Answer key: 1 question.") : QStringLiteral("Answer key: %1 questions.").arg(count);
}
