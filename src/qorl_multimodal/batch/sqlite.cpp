#include "qorl_multimodal/batch/sqlite.hpp"

namespace qorl_multimodal::batch::sqlite {

Error error_of(sqlite3* db, int code) {
  const char* message = db ? sqlite3_errmsg(db) : sqlite3_errstr(code);
  return Error(code, db ? sqlite3_system_errno(db) : 0, message ? message : sqlite3_errstr(code));
}

Statement::Statement(sqlite3* db, std::string_view sql) : db_(db) {
  const int code =
      sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &statement_, nullptr);
  if (code != SQLITE_OK) throw error_of(db, code);
}

Statement::~Statement() { sqlite3_finalize(statement_); }

Statement& Statement::bind(int index, std::string_view text) {
  const int code = sqlite3_bind_text64(statement_, index, text.data(), text.size(),
                                       SQLITE_TRANSIENT, SQLITE_UTF8);
  if (code != SQLITE_OK) throw error_of(db_, code);
  return *this;
}

Statement& Statement::bind_optional(int index, const std::optional<std::string>& text) {
  return text ? bind(index, std::string_view(*text)) : bind_null(index);
}

Statement& Statement::bind(int index, std::int64_t number) {
  const int code = sqlite3_bind_int64(statement_, index, number);
  if (code != SQLITE_OK) throw error_of(db_, code);
  return *this;
}

Statement& Statement::bind(int index, double number) {
  const int code = sqlite3_bind_double(statement_, index, number);
  if (code != SQLITE_OK) throw error_of(db_, code);
  return *this;
}

Statement& Statement::bind_null(int index) {
  const int code = sqlite3_bind_null(statement_, index);
  if (code != SQLITE_OK) throw error_of(db_, code);
  return *this;
}

bool Statement::step() {
  const int code = sqlite3_step(statement_);
  if (code == SQLITE_ROW) return true;
  if (code == SQLITE_DONE) return false;
  throw error_of(db_, code);
}

bool Statement::is_null(int column) const {
  return sqlite3_column_type(statement_, column) == SQLITE_NULL;
}

std::string Statement::text(int column) const {
  const auto* data = sqlite3_column_text(statement_, column);
  const int size = sqlite3_column_bytes(statement_, column);
  return data ? std::string(reinterpret_cast<const char*>(data), static_cast<std::size_t>(size))
              : std::string();
}

std::optional<std::string> Statement::optional_text(int column) const {
  if (is_null(column)) return std::nullopt;
  return text(column);
}

std::int64_t Statement::integer(int column) const {
  return sqlite3_column_int64(statement_, column);
}

double Statement::real(int column) const { return sqlite3_column_double(statement_, column); }

Database::Database(const std::string& path, int flags) {
  const int code = sqlite3_open_v2(path.c_str(), &db_, flags, nullptr);
  if (code != SQLITE_OK) {
    Error error = error_of(db_, code);
    sqlite3_close_v2(db_);
    db_ = nullptr;
    throw error;
  }
  sqlite3_extended_result_codes(db_, 1);
}

Database::~Database() { sqlite3_close_v2(db_); }

void Database::execute(std::string_view sql) {
  const std::string statements(sql);
  const int code = sqlite3_exec(db_, statements.c_str(), nullptr, nullptr, nullptr);
  if (code != SQLITE_OK) throw error_of(db_, code);
}

std::int64_t Database::changes() const { return sqlite3_changes64(db_); }

Transaction::Transaction(Database& db, Kind kind) : db_(db) {
  db_.execute(kind == Kind::write ? "BEGIN IMMEDIATE" : "BEGIN");
}

Transaction::~Transaction() {
  // A failed statement may already have ended the transaction; then this is a no-op.
  if (open_ && !sqlite3_get_autocommit(db_.handle())) {
    sqlite3_exec(db_.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
  }
}

void Transaction::commit() {
  db_.execute("COMMIT");
  open_ = false;
}

}  // namespace qorl_multimodal::batch::sqlite
