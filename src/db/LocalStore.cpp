#include "db/LocalStore.h"

LocalStore::Recordset::~Recordset() {
  if (store_ != nullptr) store_->busy_ = false;
}

int LocalStore::Recordset::Select(const std::string& sql, const SqlParams& params,
                                  const std::vector<std::string>& columns, std::vector<Ado_Row>& rows) {
  return store_ == nullptr ? 0 : store_->connection_.Select(sql, params, columns, rows);
}

int LocalStore::Recordset::SelectValue(const std::string& sql, const SqlParams& params) {
  return store_ == nullptr ? 0 : store_->connection_.SelectValue(sql, params);
}

int LocalStore::Recordset::Execute(const std::string& sql, const SqlParams& params) {
  return store_ == nullptr ? 0 : store_->connection_.Execute(sql, params);
}

int LocalStore::Open(const std::string& path) { return connection_.Open(path, {}, {}); }

LocalStore::Recordset LocalStore::Take() {
  if (busy_) return Recordset(nullptr);
  busy_ = true;
  return Recordset(this);
}

int LocalStore::Select(const std::string& sql, const SqlParams& params,
                       const std::vector<std::string>& columns, std::vector<Ado_Row>& rows) {
  Recordset recordset = Take();
  return recordset ? recordset.Select(sql, params, columns, rows) : 0;
}

int LocalStore::Execute(const std::string& sql, const SqlParams& params) {
  Recordset recordset = Take();
  return recordset ? recordset.Execute(sql, params) : 0;
}
