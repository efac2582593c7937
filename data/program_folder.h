// Where the running program lies: the folder its ADS.INI aliases are read
// from. Internal to the data layer.
#ifndef KDX_DATA_PROGRAM_FOLDER_H_
#define KDX_DATA_PROGRAM_FOLDER_H_

#include <string>

namespace data_internal {

// Folder of the running program, with a trailing "/"; empty when unknown.
std::string ProgramFolder();

}  // namespace data_internal

#endif  // KDX_DATA_PROGRAM_FOLDER_H_
