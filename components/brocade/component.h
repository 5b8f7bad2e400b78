// The Brocade vendor component: active boot BIOS versions from the enumerated
// adapters' option ROM texts, bcu_bootupdate as the flash engine, and a kernel
// release check.
#pragma once

#include <functional>
#include <string>

#include "framework/base_component.h"

namespace BrocadeComp {

// Fills the running kernel's release text; false when it cannot be read.
using KernelReleaseSource = std::function<bool(std::string& release)>;
bool UnameRelease(std::string& release);

class CComponent : public hbafw::CBaseCmp {
public:
    explicit CComponent(const hbafw::SystemPaths& paths = hbafw::SystemPaths{},
                        KernelReleaseSource kernelRelease = UnameRelease)
        : CBaseCmp(paths), kernelRelease_(std::move(kernelRelease)) {}
    ~CComponent() override = default;

    std::wstring NormalizeVersion(std::wstring version) override;
    void DiscoverFirmware() override;
    int Flash() override;

    // True for a kernel of 2.6.32 or later; nothing in discovery or flashing calls it.
    bool CheckKernelVersion();

private:
    KernelReleaseSource kernelRelease_;
};

}  // namespace BrocadeComp
