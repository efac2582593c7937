// A component of the main window: a name and an owner. The owner destroys
// what it owns, newest first, when it is destroyed itself.
#ifndef KDX_DATA_COMPONENT_H_
#define KDX_DATA_COMPONENT_H_

#include <string>
#include <vector>

class TComponent {
 public:
  // Registers with `owner` (which may be null); the owner deletes this
  // component in its destructor. Components are created with new.
  TComponent(TComponent* owner, std::string name);
  virtual ~TComponent();
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  const std::string& Name() const { return name_; }
  TComponent* Owner() const { return owner_; }

 private:
  TComponent* owner_;
  std::string name_;
  std::vector<TComponent*> owned_;
};

#endif  // KDX_DATA_COMPONENT_H_
