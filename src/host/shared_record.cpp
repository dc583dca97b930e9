#include "host/shared_record.h"

namespace lumafex {

FilterSettings* SharedRecord::Get() const { return static_cast<FilterSettings*>(block_.data()); }

FilterSettings* SharedRecord::Obtain() {
    if (!block_) block_ = platform::MemoryBlock::Allocate(sizeof(FilterSettings));
    return Get();
}

bool SharedRecord::Renew() {
    if (instances_ > 0 && block_) return true;
    block_.Release();
    block_ = platform::MemoryBlock::Allocate(sizeof(FilterSettings));
    return static_cast<bool>(block_);
}

FilterSettings* SharedRecord::CreateInstance() {
    FilterSettings* record = Obtain();
    if (record == nullptr) return nullptr;
    ResetToDefaults(*record);
    ++instances_;
    return record;
}

void SharedRecord::DestroyInstance() {
    if (instances_ == 0) return;
    if (--instances_ == 0) block_.Release();
}

}  // namespace lumafex
