// The kernel class of a character device ("hidraw", "tty"), as sysfs tells it: the link
// /sys/dev/char/MAJOR:MINOR/subsystem ends in .../class/NAME. Header only, so that the user
// interface's settings check and the CM108 PTT ask it the same way.
#pragma once

#include <sys/sysmacros.h>
#include <sys/types.h>
#include <unistd.h>

#include <array>
#include <string>

namespace tarpo::ptt {

// Empty where sysfs cannot say (no sysfs, no such device).
inline std::string char_device_class(dev_t device) {
    const std::string node = "/sys/dev/char/" + std::to_string(major(device)) + ":" +
                             std::to_string(minor(device)) + "/subsystem";
    std::array<char, 512> target{};
    const ssize_t n = ::readlink(node.c_str(), target.data(), target.size() - 1);
    if (n <= 0) return {};
    const std::string link(target.data(), static_cast<std::size_t>(n));
    const std::size_t slash = link.rfind('/');
    return slash == std::string::npos ? std::string() : link.substr(slash + 1);
}

}  // namespace tarpo::ptt
