#pragma once
// A class of answer sheets with known marks, as the decoder gives them
// (multiple-bubble digits such as "3" or "34", single-bubble letters, " " for
// an unmarked column), and the scoring statistics worked out here from the
// marks by their textbook definitions, for comparison with what a spreadsheet
// makes of the scoring formulas.

#include <QString>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <optional>
#include <random>
#include <vector>

struct ClassOfSheets {
  bool multiple = true;
  QStringList key;                  // the key sheet's values, column 1 first
  std::vector<int> questionColumns; // the columns scored, in order
  int idFrom = 1, idTo = 3;
  std::vector<QStringList> sheets;  // one per student, column 1 first, padded to 66 columns
  int wronglyKeyed = 0;             // the question number keyed wrongly (0: none)
};

// 12 questions in columns 5..16, the student ID in columns 1..3 (the key
// marks column 2 too, which must still not count), column 4 left blank on the
// key. Question 9 is keyed with an answer the strong students avoid. Sheet 17
// repeats sheet 4's ID. Blanks and (multiple mode) double marks are sprinkled in.
inline ClassOfSheets MakeClass(bool multiple, int students, unsigned seed = 7) {
  ClassOfSheets c;
  c.multiple = multiple;
  const QStringList options = multiple ? QStringList{"1", "2", "3", "4", "5"} : QStringList{"A", "C", "D", "E", "F"};
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  const auto pick = [&](int n) { return static_cast<int>(unit(random) * n) % n; };
  constexpr int kQuestions = 12;
  QStringList truth;
  c.key = QStringList(66, " ");
  c.key[1] = options[2];  // a mark in an ID column of the key
  for (int q = 0; q < kQuestions; ++q) {
    const int column = 5 + q;
    c.questionColumns.push_back(column);
    truth << options[pick(5)];
    c.key[column - 1] = truth.back();
  }
  c.wronglyKeyed = 9;
  const QString wrongKey = options[(options.indexOf(truth[8]) + 1) % 5];
  c.key[c.questionColumns[8] - 1] = wrongKey;
  for (int s = 0; s < students; ++s) {
    const double ability = unit(random);
    QStringList sheet(66, " ");
    for (int column = c.idFrom; column <= c.idTo; ++column) sheet[column - 1] = options[pick(5)].toLower();
    if (multiple) {
      for (int column = c.idFrom; column <= c.idTo; ++column) sheet[column - 1] = QString::number(1 + pick(6));
    }
    if (s == 2) sheet[c.idFrom] = " ";  // a blank inside an ID is left out of it
    sheet[3] = options[pick(5)];        // column 4 is not scored whatever it holds
    for (int q = 0; q < kQuestions; ++q) {
      QString answer;
      const double roll = unit(random);
      if (q == 8) {
        answer = roll < 0.25 + 0.7 * ability ? truth[q] : (unit(random) < 0.8 ? wrongKey : options[pick(5)]);
      } else {
        answer = roll < 0.2 + 0.7 * ability ? truth[q] : options[pick(5)];
      }
      const double odd = unit(random);
      if (odd < 0.06) answer = " ";
      if (multiple && odd >= 0.06 && odd < 0.10) {
        QString other = options[pick(5)];
        if (other == answer) other = "6";
        answer = answer < other ? answer + other : other + answer;
      }
      sheet[c.questionColumns[q] - 1] = answer;
    }
    c.sheets.push_back(sheet);
  }
  if (students > 16) {
    for (int column = c.idFrom; column <= c.idTo; ++column) c.sheets[16][column - 1] = c.sheets[3][column - 1];
  }
  return c;
}

// The figures, worked out from the marks.
struct ClassFigures {
  struct Student {
    QString id;
    double score = 0, percent = 0;
    int correct = 0, blank = 0, twice = 0;
  };
  struct Item {
    double difficulty = 0;
    std::optional<double> discrimination, pointBiserial;
    bool check = false;
    int blank = 0, twice = 0;
    int bubbles[6] = {};
  };
  std::vector<Student> students;
  std::vector<Item> items;
  double mean = 0, deviation = 0, highest = 0, lowest = 0;
  std::optional<double> kr20, sem;
};

inline ClassFigures Figures(const ClassOfSheets& c) {
  ClassFigures f;
  const int n = static_cast<int>(c.sheets.size());
  const int k = static_cast<int>(c.questionColumns.size());
  std::vector<std::vector<int>> right(n, std::vector<int>(k));
  for (int s = 0; s < n; ++s) {
    ClassFigures::Student st;
    for (int column = c.idFrom; column <= c.idTo; ++column) {
      if (c.sheets[s][column - 1] != " ") st.id += c.sheets[s][column - 1];
    }
    for (int q = 0; q < k; ++q) {
      const QString& answer = c.sheets[s][c.questionColumns[q] - 1];
      right[s][q] = answer.compare(c.key[c.questionColumns[q] - 1], Qt::CaseInsensitive) == 0;
      st.correct += right[s][q];
      st.blank += answer == " ";
      st.twice += c.multiple && answer.size() > 1;
    }
    st.score = st.correct;
    st.percent = 100.0 * st.score / k;
    f.students.push_back(st);
  }
  double sum = 0, squares = 0;
  f.highest = -1e300;
  f.lowest = 1e300;
  for (const auto& st : f.students) {
    sum += st.score;
    squares += st.score * st.score;
    f.highest = std::max(f.highest, st.score);
    f.lowest = std::min(f.lowest, st.score);
  }
  f.mean = sum / n;
  const double variance = squares / n - f.mean * f.mean;
  f.deviation = std::sqrt(variance);
  std::vector<double> sorted;
  for (const auto& st : f.students) sorted.push_back(st.score);
  std::sort(sorted.begin(), sorted.end());
  const int group = (27 * n + 99) / 100;
  const double upperCut = sorted[n - group], lowerCut = sorted[group - 1];
  double pq = 0;
  for (int q = 0; q < k; ++q) {
    ClassFigures::Item item;
    int correct = 0, upper = 0, upperRight = 0, lower = 0, lowerRight = 0;
    double xy = 0;
    for (int s = 0; s < n; ++s) {
      const QString& answer = c.sheets[s][c.questionColumns[q] - 1];
      correct += right[s][q];
      xy += right[s][q] * f.students[s].score;
      if (f.students[s].score >= upperCut) upper++, upperRight += right[s][q];
      if (f.students[s].score <= lowerCut) lower++, lowerRight += right[s][q];
      item.blank += answer == " ";
      item.twice += c.multiple && answer.size() > 1;
      for (int b = 0; b < 6; ++b) item.bubbles[b] += c.multiple && answer.contains(QString::number(b + 1));
    }
    item.difficulty = static_cast<double>(correct) / n;
    pq += item.difficulty * (1 - item.difficulty);
    if (n >= 2) item.discrimination = static_cast<double>(upperRight) / upper - static_cast<double>(lowerRight) / lower;
    const double covariance = xy / n - item.difficulty * f.mean;
    const double spread = item.difficulty * (1 - item.difficulty) * variance;
    if (n >= 2 && spread > 0) item.pointBiserial = covariance / std::sqrt(spread);
    item.check = n >= 20 && item.pointBiserial && *item.pointBiserial < 0;
    f.items.push_back(item);
  }
  if (n >= 2 && k >= 2 && variance > 0) {
    f.kr20 = static_cast<double>(k) / (k - 1) * (1 - pq / variance);
    if (*f.kr20 <= 1) f.sem = f.deviation * std::sqrt(1 - *f.kr20);
  }
  return f;
}
