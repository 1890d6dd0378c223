#pragma once

namespace qx {

// Base of every service interface and every handle owner: these stand for
// one live resource each, so copying them is always a mistake.
class NonCopyable {
public:
    NonCopyable(const NonCopyable&) = delete;
    NonCopyable& operator=(const NonCopyable&) = delete;

protected:
    NonCopyable() = default;
    ~NonCopyable() = default;
};

}  // namespace qx
