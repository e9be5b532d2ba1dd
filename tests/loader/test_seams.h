#pragma once
// Loader seams for tests: the platform's real image memory behind a counter that can refuse requests, a
// routine table, and a recording caller.

#include "loader/loader_seams.h"

#include <set>
#include <vector>

namespace vestrel::testing {

class CountingMemory : public ImageMemory {
public:
    explicit CountingMemory(ImageMemory& real) : real_(real) {}

    bool refuse_preferred = false; // every allocate_at fails
    bool refuse_anywhere = false;
    std::vector<std::uint32_t> requested_sizes;

    Address allocate_at(Address address, std::uint32_t size) override {
        requested_sizes.push_back(size);
        return keep(refuse_preferred ? 0 : real_.allocate_at(address, size));
    }
    Address allocate_anywhere(std::uint32_t size) override {
        requested_sizes.push_back(size);
        return keep(refuse_anywhere ? 0 : real_.allocate_anywhere(size));
    }
    bool release(Address base) override {
        if (live_.count(base) == 0 || !real_.release(base))
            return false;
        live_.erase(base);
        released.push_back(base);
        return true;
    }
    std::uint32_t block_size(Address base) const override {
        return live_.count(base) != 0 ? real_.block_size(base) : 0;
    }

    std::size_t live() const { return live_.size(); }
    std::vector<Address> released;

    ~CountingMemory() override {
        for (const Address base : live_)
            real_.release(base);
    }

private:
    Address keep(Address base) {
        if (base != 0)
            live_.insert(base);
        return base;
    }
    ImageMemory& real_;
    std::set<Address> live_;
};

struct TestSeams {
    CountingMemory memory{*system_loader_seams().memory};
    RoutineTable libraries;
    RecordingCaller caller;

    LoaderSeams seams() { return LoaderSeams{&memory, &libraries, &caller}; }
};

} // namespace vestrel::testing
