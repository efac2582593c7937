// TAdsTable: one table opened by name in its connection's folder or
// dictionary, walked in the order of the index chosen from IndexFieldNames.
#ifndef KDX_DATA_TABLE_H_
#define KDX_DATA_TABLE_H_

#include <string>

#include "data/dataset.h"

class TAdsTable : public TAdsDataSet {
 public:
  TAdsTable(TComponent* owner, std::string name);

  void SetTableName(const std::string& name) { table_name_ = name; }
  const std::string& TableName() const { return table_name_; }

  // Hands the engine the open table's encryption password (5068 is no
  // failure), then puts the dataset back in position.
  void EnableEncryption(const std::string& password);

 protected:
  ADSHANDLE CreateHandle() override;
  std::string TableNameForErrors() const override { return table_name_; }

 private:
  std::string table_name_;
};

#endif  // KDX_DATA_TABLE_H_
