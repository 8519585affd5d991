#include "tools/DeviceLink.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <utility>

namespace machine_sim {

namespace {

std::string ReadLink(const std::string& path) {
  std::string target(4096, '\0');
  const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
  if (n < 0) return {};
  target.resize(static_cast<std::size_t>(n));
  return target;
}

}  // namespace

DeviceLink::DeviceLink(std::string linkPath, std::string target)
    : linkPath_(std::move(linkPath)), target_(std::move(target)) {
  // Until the link exists this object owns nothing to remove.
  const std::string wanted = std::exchange(linkPath_, {});
  struct stat st {};
  if (::lstat(wanted.c_str(), &st) == 0 && !S_ISLNK(st.st_mode))
    throw std::system_error(EEXIST, std::generic_category(), "not replacing " + wanted);
  // Made beside the final name and renamed over it, so an older link is
  // replaced in one step and the path never names a half-made link.
  const std::string temporary = wanted + ".tmp-" + std::to_string(::getpid());
  ::unlink(temporary.c_str());
  if (::symlink(target_.c_str(), temporary.c_str()) != 0)
    throw std::system_error(errno, std::generic_category(), "cannot make the link " + wanted);
  if (::rename(temporary.c_str(), wanted.c_str()) != 0) {
    const int err = errno;
    ::unlink(temporary.c_str());
    throw std::system_error(err, std::generic_category(), "cannot make the link " + wanted);
  }
  linkPath_ = wanted;
}

DeviceLink::~DeviceLink() { Remove(); }

DeviceLink::DeviceLink(DeviceLink&& other) noexcept
    : linkPath_(std::exchange(other.linkPath_, {})), target_(std::move(other.target_)) {}

DeviceLink& DeviceLink::operator=(DeviceLink&& other) noexcept {
  if (this != &other) {
    Remove();
    linkPath_ = std::exchange(other.linkPath_, {});
    target_ = std::move(other.target_);
  }
  return *this;
}

void DeviceLink::Remove() noexcept {
  if (linkPath_.empty()) return;
  if (ReadLink(linkPath_) == target_) ::unlink(linkPath_.c_str());
  linkPath_.clear();
}

}  // namespace machine_sim
