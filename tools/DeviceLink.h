#pragma once
// A symbolic link to the simulator's device, so that a fixed path can name a
// device whose number the system chooses. It goes away with the device.

#include <string>

namespace machine_sim {

class DeviceLink {
 public:
  DeviceLink() = default;
  // Points `linkPath` at `target`, replacing an older symbolic link there in one
  // step. Refuses (std::system_error) to replace anything that is not a link.
  DeviceLink(std::string linkPath, std::string target);
  ~DeviceLink();

  DeviceLink(DeviceLink&& other) noexcept;
  DeviceLink& operator=(DeviceLink&& other) noexcept;
  DeviceLink(const DeviceLink&) = delete;
  DeviceLink& operator=(const DeviceLink&) = delete;

  // Removes the link if it still points at our target: a link that someone
  // has pointed elsewhere meanwhile is left alone.
  void Remove() noexcept;

  const std::string& Path() const { return linkPath_; }

 private:
  std::string linkPath_;
  std::string target_;
};

}  // namespace machine_sim
