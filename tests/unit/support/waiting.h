// Deadlines for the unit tests that wait for the debug thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <thread>

const uint32_t WAIT_MS = 10000;

// Spins until `done` holds; false when the deadline passes first.
template <typename Predicate> bool spin_until(Predicate done) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(WAIT_MS);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::yield();
    }
    return true;
}
