// TAdsConnection: one engine connection to a folder of free tables or to a
// data-dictionary file, shared by every dataset that names it. It connects on
// demand (the first dataset open) and, on disconnect, closes its datasets
// first, in attach order.
//
// Every connection registers itself in a process-wide registry (guarded by a
// mutex) so that datasets can find it by name.
#ifndef KDX_DATA_CONNECTION_H_
#define KDX_DATA_CONNECTION_H_

#include <string>
#include <vector>

#include "data/component.h"
#include "data/server_type_mask.h"
#include "engine/ads.h"

class TAdsDataSet;

class TAdsConnection : public TComponent {
 public:
  TAdsConnection(TComponent* owner, std::string name);
  // Closes and detaches the datasets, disconnects (accepting 0 and 5024) and
  // leaves the registry.
  ~TAdsConnection() override;

  // Refused while connected: AdsConnectionError "The TAdsConnection.ConnectPath
  // may not be changed when IsConnected is TRUE".
  void SetConnectPath(const std::string& path);
  const std::string& ConnectPath() const { return connect_path_; }
  void SetUsername(const std::string& user) { username_ = user; }
  const std::string& Username() const { return username_; }
  void SetPassword(const std::string& password) { password_ = password; }
  const std::string& Password() const { return password_; }
  void SetAdsServerTypes(TAdsServerTypes types) { server_types_ = types; }
  TAdsServerTypes AdsServerTypes() const { return server_types_; }
  void SetLoginPrompt(bool on) { login_prompt_ = on; }
  void SetReadOnly(bool on) { read_only_ = on; }
  bool ReadOnly() const { return read_only_; }

  bool IsConnected() const { return handle_ != 0; }
  // true: connect (EADSDatabaseError when the engine refuses; AdsConnectionError
  // "Must specify connection string before getting a server connection." for
  // an empty path). false: close the attached datasets, then disconnect
  // (AdsError when the engine refuses); the connection is dropped even when
  // a dataset fails to close, and that failure is raised. The current value:
  // nothing.
  void SetIsConnected(bool connected);
  // Connects when not connected, then gives the handle.
  ADSHANDLE ConnectOnDemand();
  ADSHANDLE ConnectionHandle() const { return handle_; }

  // ConnectPath names an existing regular file and, upper-cased, contains
  // ".ADD": a folder is never a dictionary, whatever its name. Decided when
  // connecting and kept while connected; looked up anew otherwise.
  bool IsDictionaryConnection() const;
  // The folder datasets prefix to table names: ConnectPath itself, or, when
  // it names an existing regular file (a dictionary), the path cut before
  // its last separator. A folder named like a file ("hr.bak") stays itself.
  std::string ConnectionFolder() const;

  void AttachDataSet(TAdsDataSet* dataset);
  void DetachDataSet(TAdsDataSet* dataset);

  // Finds a registered connection for a dataset's DatabaseName (see
  // TAdsDataSet::SetDatabaseName); null when none matches.
  static TAdsConnection* FindForDataSet(const std::string& database_name, const TComponent* dataset_owner);

 private:
  friend class TAdsDataSet;
  struct Unregistered {};
  // A connection a dataset makes for itself when its DatabaseName names a
  // folder (or an ADS.INI alias) instead of a connection component. It is
  // not in the registry, so no other dataset finds it by name.
  TAdsConnection(Unregistered, const std::string& folder);

  void Connect();
  void Disconnect();
  // Closes every attached dataset, in attach order, going on past one that
  // fails to close (the first failure is raised after the last close);
  // queries forget their statement handle, which the engine drops with the
  // connection.
  void CloseDataSets();

  std::string connect_path_;
  std::string username_;
  std::string password_;
  TAdsServerTypes server_types_;
  bool login_prompt_ = true;
  bool read_only_ = false;
  bool is_dictionary_ = false;  // what the path named when it was connected
  ADSHANDLE handle_ = 0;
  bool registered_ = true;
  std::vector<TAdsDataSet*> datasets_;
};

#endif  // KDX_DATA_CONNECTION_H_
