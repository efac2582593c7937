// The set of engine server types a connection or the settings may use, and
// the engine mask it stands for (which servers AdsConnect60 may use; a
// PostgreSQL server is chosen by the connection path, not by this mask).
#ifndef KDX_DATA_SERVER_TYPE_MASK_H_
#define KDX_DATA_SERVER_TYPE_MASK_H_

#include <cstdint>
#include <initializer_list>

enum class TAdsServerType { stADS_REMOTE, stADS_LOCAL, stADS_AIS };

class TAdsServerTypes {
 public:
  TAdsServerTypes() = default;
  TAdsServerTypes(std::initializer_list<TAdsServerType> types) {
    for (TAdsServerType t : types) bits_ |= Bit(t);
  }
  bool Has(TAdsServerType t) const { return (bits_ & Bit(t)) != 0; }
  bool Empty() const { return bits_ == 0; }
  // The engine's mask: remote 2, local 1, AIS 4, added together.
  uint16_t Mask() const {
    return (Has(TAdsServerType::stADS_REMOTE) ? 2 : 0) | (Has(TAdsServerType::stADS_LOCAL) ? 1 : 0) |
           (Has(TAdsServerType::stADS_AIS) ? 4 : 0);
  }
  bool operator==(const TAdsServerTypes& o) const { return bits_ == o.bits_; }

 private:
  static unsigned Bit(TAdsServerType t) { return 1u << static_cast<unsigned>(t); }
  unsigned bits_ = 0;
};

#endif  // KDX_DATA_SERVER_TYPE_MASK_H_
