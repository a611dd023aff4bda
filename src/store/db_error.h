#pragma once
// Errors of the database engine and of the note files, with the Chinese text the user sees.
#include <stdexcept>
#include <string>

#include <QString>

namespace yunshan {

// Codes of problems found by the store itself rather than reported by the engine.
enum StoreProblem : int {
    kNotNoteDatabase = 0x10000, // the file opens but lacks the note tables
    kReadOnlyInstance,          // a write in an instance that may only read
    kNoDatabaseOpen,            // a write with no main database open
};

// An error of the database engine or of a note file. what() is the text for the error box: the
// file, the cause in words and the engine's own text after them (UTF-8).
class DbError : public std::runtime_error {
  public:
    // A message of the store's own, shown as it is.
    explicit DbError(const std::string &message) : std::runtime_error(message) {}
    explicit DbError(const QString &message) : std::runtime_error(message.toStdString()) {}
    // An error of the engine (an SQLite extended result code) or a StoreProblem, on `file`.
    DbError(int code, const QString &file, const QString &engine_text);

    QString message() const { return QString::fromUtf8(what()); }
    // The SQLite extended result code or StoreProblem; 0 for a message of the store's own.
    int code() const { return code_; }
    QString file() const { return file_; }
    // The engine's own text, empty for a message of the store's own.
    QString engine_text() const { return engine_text_; }

  private:
    int code_ = 0;
    QString file_;
    QString engine_text_;
};

// The text of a DbError: "数据库文件“<file>”<cause>。（<engine text>）".
QString database_problem_text(int code, const QString &file, const QString &engine_text);
// The cause in words with the engine's text after it, for messages that name the file themselves:
// "不是数据库文件，或已损坏（file is not a database）". A message of the store's own as it is.
QString database_problem_words(const DbError &e);
// The cause alone, in words ("已损坏", "是只读的", "所在磁盘已满", …).
QString database_problem_cause(int code, const QString &engine_text);

} // namespace yunshan
