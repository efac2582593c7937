#include "data/connection.h"

#include <sys/stat.h>

#include <algorithm>
#include <exception>
#include <mutex>

#include "data/dataset.h"
#include "data/engine_error.h"
#include "data/errors.h"
#include "data/query.h"
#include "data/wait_cursor.h"
#include "util/ascii.h"


namespace {

// The process-wide registry of connection components, guarded by its own
// lock. Connections add themselves when created and leave when destroyed.
struct Registry {
  std::mutex mu;
  std::vector<TAdsConnection*> connections;
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

// The path as the engine resolves it: either separator, no trailing one.
std::string NormalPath(std::string path) {
  std::replace(path.begin(), path.end(), '\\', '/');
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

bool NamesRegularFile(const std::string& path) {
  struct stat info;
  return !path.empty() && stat(NormalPath(path).c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// A dictionary connection: the path names an existing regular file and
// contains ".ADD" (in any case). A folder is never a dictionary, whatever
// its name.
bool NamesDictionary(const std::string& path) {
  return ToUpperAscii(path).find(".ADD") != std::string::npos && NamesRegularFile(path);
}

constexpr char kMustSpecifyPath[] = "Must specify connection string before getting a server connection.";
constexpr char kPathWhileConnected[] =
    "The TAdsConnection.ConnectPath may not be changed when IsConnected is TRUE";

}  // namespace

TAdsConnection::TAdsConnection(TComponent* owner, std::string name) : TComponent(owner, std::move(name)) {
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> lock(registry.mu);
  registry.connections.push_back(this);
}

TAdsConnection::TAdsConnection(Unregistered, const std::string& folder)
    : TComponent(nullptr, ""), registered_(false) {
  server_types_ = {TAdsServerType::stADS_REMOTE, TAdsServerType::stADS_LOCAL};
  login_prompt_ = false;
  connect_path_ = folder;
}

TAdsConnection::~TAdsConnection() {
  // A destructor cannot raise: a refused disconnect here is passed over (the
  // process is ending or the owner is going away; the engine drops the
  // connection's handles with it).
  try {
    if (handle_ != 0) CloseDataSets();
  } catch (const std::exception&) {
  }
  for (TAdsDataSet* dataset : datasets_) {
    dataset->connection_ = nullptr;
    if (auto* query = dynamic_cast<TAdsQuery*>(dataset)) query->ForgetStatement();
  }
  datasets_.clear();
  if (handle_ != 0) {
    // 0 and 5024 (already gone) are the expected answers; any other leaves
    // nothing this process could still release, and a destructor cannot
    // raise it.
    static_cast<void>(AdsDisconnect(handle_));
    handle_ = 0;
  }
  if (registered_) {
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.mu);
    auto& list = registry.connections;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
  }
}

void TAdsConnection::SetConnectPath(const std::string& path) {
  if (IsConnected()) throw AdsConnectionError(kPathWhileConnected);
  connect_path_ = path;
}

bool TAdsConnection::IsDictionaryConnection() const {
  return IsConnected() ? is_dictionary_ : NamesDictionary(connect_path_);
}

void TAdsConnection::SetIsConnected(bool connected) {
  if (connected == IsConnected()) return;
  if (connected) {
    Connect();
  } else {
    Disconnect();
  }
}

ADSHANDLE TAdsConnection::ConnectOnDemand() {
  if (!IsConnected()) Connect();
  return handle_;
}

std::string TAdsConnection::ConnectionFolder() const {
  const std::string& path = connect_path_;
  if (NamesRegularFile(path)) {
    const size_t cut = path.find_last_of("\\/");
    if (cut == std::string::npos) return ".\\";
    return path.substr(0, cut);
  }
  return path;
}

void TAdsConnection::AttachDataSet(TAdsDataSet* dataset) {
  if (std::find(datasets_.begin(), datasets_.end(), dataset) == datasets_.end()) datasets_.push_back(dataset);
}

void TAdsConnection::DetachDataSet(TAdsDataSet* dataset) {
  datasets_.erase(std::remove(datasets_.begin(), datasets_.end(), dataset), datasets_.end());
}

TAdsConnection* TAdsConnection::FindForDataSet(const std::string& database_name, const TComponent* dataset_owner) {
  if (database_name.empty()) return nullptr;
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> lock(registry.mu);
  for (TAdsConnection* c : registry.connections) {
    if (c->Owner() == dataset_owner && EqualsNoCase(c->Name(), database_name)) return c;
  }
  for (TAdsConnection* c : registry.connections) {
    if (EqualsNoCase(c->Name(), database_name)) return c;
    if (c->Owner() != nullptr && EqualsNoCase(c->Owner()->Name() + "." + c->Name(), database_name)) return c;
  }
  return nullptr;
}

void TAdsConnection::Connect() {
  if (connect_path_.empty()) throw AdsConnectionError(kMustSpecifyPath);
  // Only a dictionary checks credentials; a folder connection sends none,
  // whatever Username and Password hold. What the path names is decided
  // now and holds while connected.
  is_dictionary_ = NamesDictionary(connect_path_);
  const std::string user = is_dictionary_ ? username_ : std::string();
  const std::string password = is_dictionary_ ? password_ : std::string();
  ScopedWaitCursor wait;
  ADSHANDLE handle = 0;
  const UNSIGNED32 result = AdsConnect60(connect_path_, server_types_.Mask(), user, password, 0, &handle);
  if (result != AE_SUCCESS) {
    const data_internal::EngineError error = data_internal::LastEngineError();
    EADSDatabaseError::Details details;
    details.code = error.code != 0 ? error.code : result;
    throw EADSDatabaseError(error.text, details);
  }
  handle_ = handle;
  if (is_dictionary_) {
    for (TAdsDataSet* dataset : datasets_) {
      if (dynamic_cast<TAdsQuery*>(dataset) == nullptr) dataset->ApplyDictionaryDefaultIndex(handle_);
    }
  }
}

void TAdsConnection::CloseDataSets() {
  // Copy: closing runs user code (none today) that could attach or detach.
  const std::vector<TAdsDataSet*> datasets = datasets_;
  std::exception_ptr first_failure;
  for (TAdsDataSet* dataset : datasets) {
    try {
      dataset->CloseDataSet();
    } catch (const EDatabaseError&) {
      // A dataset whose close fails is closed all the same (CloseDataSet):
      // the others are still closed, and the first failure is raised once
      // they are.
      if (!first_failure) first_failure = std::current_exception();
    }
    if (auto* query = dynamic_cast<TAdsQuery*>(dataset)) query->ForgetStatement();
  }
  if (first_failure) std::rethrow_exception(first_failure);
}

void TAdsConnection::Disconnect() {
  // The connection is dropped even when a dataset fails to close, so that a
  // run's session ends whatever its datasets do; the engine releases what
  // such a close left behind with the connection. A close failure is then
  // raised before a disconnect failure.
  std::exception_ptr close_failure;
  try {
    CloseDataSets();
  } catch (const EDatabaseError&) {
    close_failure = std::current_exception();
  }
  const UNSIGNED32 result = AdsDisconnect(handle_);
  if (result == AE_SUCCESS) handle_ = 0;
  if (close_failure) std::rethrow_exception(close_failure);
  if (result != AE_SUCCESS) throw AdsError(data_internal::AdsErrorMessageFromLastError());
}
