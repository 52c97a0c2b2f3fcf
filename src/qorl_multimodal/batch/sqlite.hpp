// A thin owner of SQLite's C handles: statements, a connection and an IMMEDIATE transaction,
// failing with the result code so callers can tell a full disk from a damaged file.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace qorl_multimodal::batch::sqlite {

class Error : public std::runtime_error {
 public:
  Error(int code, int system_errno, const std::string& message)
      : std::runtime_error(message), code_(code), system_errno_(system_errno) {}
  int code() const noexcept { return code_; }  // extended result code
  int primary_code() const noexcept { return code_ & 0xff; }
  int system_errno() const noexcept { return system_errno_; }  // errno of the failed system call

 private:
  int code_;
  int system_errno_;
};

class Statement {
 public:
  Statement(sqlite3* db, std::string_view sql);
  ~Statement();
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  // Parameters are 1-based, as in SQLite.
  Statement& bind(int index, std::string_view text);
  Statement& bind_optional(int index, const std::optional<std::string>& text);  // NULL when empty
  Statement& bind(int index, std::int64_t number);
  Statement& bind(int index, double number);
  Statement& bind_null(int index);

  // True while a row is available.
  bool step();

  bool is_null(int column) const;
  std::string text(int column) const;
  std::optional<std::string> optional_text(int column) const;
  std::int64_t integer(int column) const;
  double real(int column) const;

 private:
  sqlite3* db_;
  sqlite3_stmt* statement_ = nullptr;
};

class Database {
 public:
  // sqlite3_open_v2 with `flags`; Error when the file cannot be opened.
  Database(const std::string& path, int flags);
  ~Database();
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  void execute(std::string_view sql);  // one or more statements without results
  Statement prepare(std::string_view sql) { return Statement(db_, sql); }
  std::int64_t changes() const;
  sqlite3* handle() const noexcept { return db_; }

 private:
  sqlite3* db_ = nullptr;
};

// BEGIN IMMEDIATE: the write lock is taken at once, so two writers wait on the busy timeout
// instead of failing half-way. Rolled back unless committed.
class Transaction {
 public:
  // A writing transaction takes the write lock at once (BEGIN IMMEDIATE); a reading one sees one
  // snapshot of the database across its statements (BEGIN).
  enum class Kind { write, read };
  explicit Transaction(Database& db, Kind kind = Kind::write);
  ~Transaction();
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;
  void commit();

 private:
  Database& db_;
  bool open_ = true;
};

// The error SQLite holds for `db` after `code`, as an Error.
Error error_of(sqlite3* db, int code);

}  // namespace qorl_multimodal::batch::sqlite
