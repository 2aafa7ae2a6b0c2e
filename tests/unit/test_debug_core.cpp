// debug_core_init: the version rule, what start-up leaves behind, and what it refuses;
// and the core lock's way of waiting.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "breakpoints/bp_table.h"
#include "core/debug_core.h"
#include "core/debug_loop.h"
#include "core/exec_control.h"
#include "tests/fake/fake_platform.h"
#include "tests/unit/support/waiting.h"

namespace {

class DebugCoreInit : public ::testing::Test {
  protected:
    void SetUp() override { fake::reset(); }
    void TearDown() override { fake::reset(); }
};

bool signalled(HANDLE event) {
    return plat_wait(event, 0);
}

void fill_table_with_garbage() {
    for (uint32_t slot = 0; slot < BP_SLOTS; slot++)
        bp_table[slot] = {0xDEAD0000u + slot, static_cast<uint8_t>(slot)};
    bp_count = 17;
}

bool table_is_empty() {
    for (const bp_entry &entry : bp_table)
        if (entry.address != 0 || entry.saved_byte != 0)
            return false;
    return bp_count == 0;
}

TEST_F(DebugCoreInit, LeavesTheCoreIdleWithQuietEventsAndAnEmptyTable) {
    fill_table_with_garbage();
    ASSERT_EQ(debug_core_init(), 0);

    EXPECT_EQ(load_debug_state(), STATE_IDLE);
    ASSERT_NE(exception_event, nullptr);
    ASSERT_NE(exit_event, nullptr);
    ASSERT_NE(continue_event, nullptr);
    EXPECT_NE(exception_event, exit_event);
    EXPECT_NE(exit_event, continue_event);
    EXPECT_NE(exception_event, continue_event);
    EXPECT_FALSE(signalled(exception_event));
    EXPECT_FALSE(signalled(exit_event));
    EXPECT_FALSE(signalled(continue_event));
    EXPECT_TRUE(table_is_empty());
    EXPECT_NE(nt_suspend_process, nullptr);
    EXPECT_NE(nt_resume_process, nullptr);
}

TEST_F(DebugCoreInit, SecondCallIsRefusedAndChangesNothing) {
    ASSERT_EQ(debug_core_init(), 0);
    HANDLE first[] = {exception_event, exit_event, continue_event};
    bp_table[BP_SLOTS - 1] = {0x401000, 0x55};
    bp_count = 1;
    plat_set_event(exit_event);

    EXPECT_EQ(debug_core_init(), 2);
    EXPECT_EQ(load_debug_state(), STATE_IDLE);
    EXPECT_EQ(exception_event, first[0]);
    EXPECT_EQ(exit_event, first[1]);
    EXPECT_EQ(continue_event, first[2]);
    EXPECT_TRUE(signalled(exit_event));
    EXPECT_EQ(bp_count, 1);
    EXPECT_EQ(bp_table[BP_SLOTS - 1].address, 0x401000u);
    EXPECT_EQ(bp_table[BP_SLOTS - 1].saved_byte, 0x55);

    // Refused in every later state as well, which it keeps.
    for (uint8_t state : {STATE_RUNNING, STATE_EXCEPTION, STATE_SUSPENDED}) {
        store_debug_state(state);
        EXPECT_EQ(debug_core_init(), 2);
        EXPECT_EQ(load_debug_state(), state);
    }
}

TEST_F(DebugCoreInit, VersionRule) {
    struct row {
        uint32_t major, minor;
        uint8_t result;
    };
    const row rows[] = {{4, 0, 1}, {5, 0, 1}, {5, 1, 0}, {5, 2, 0},
                        {6, 0, 0}, {6, 1, 0}, {10, 0, 0}};
    for (const row &r : rows) {
        SCOPED_TRACE(testing::Message() << r.major << "." << r.minor);
        fake::reset();
        fake::set_version(r.major, r.minor);
        fill_table_with_garbage();
        EXPECT_EQ(debug_core_init(), r.result);
        if (r.result == 0) {
            EXPECT_EQ(load_debug_state(), STATE_IDLE);
            continue;
        }
        // A refused start-up leaves every variable as it was.
        EXPECT_EQ(load_debug_state(), STATE_UNINIT);
        EXPECT_EQ(exception_event, nullptr);
        EXPECT_EQ(exit_event, nullptr);
        EXPECT_EQ(continue_event, nullptr);
        EXPECT_EQ(nt_suspend_process, nullptr);
        EXPECT_EQ(nt_resume_process, nullptr);
        EXPECT_EQ(bp_count, 17);
        EXPECT_EQ(bp_table[3].address, 0xDEAD0003u);
    }
}

TEST_F(DebugCoreInit, MissingSystemRoutinesAreNeverCalled) {
    fake::set_system_routines_present(false);
    ASSERT_EQ(debug_core_init(), 0);
    EXPECT_EQ(nt_suspend_process, nullptr);
    EXPECT_EQ(nt_resume_process, nullptr);

    store_debug_state(STATE_RUNNING);
    EXPECT_EQ(debug_stop(), 1);
    EXPECT_EQ(load_debug_state(), STATE_RUNNING);
    store_debug_state(STATE_SUSPENDED);
    EXPECT_EQ(debug_resume(), 1);
    EXPECT_EQ(load_debug_state(), STATE_SUSPENDED);
    EXPECT_EQ(fake::suspend_calls(), 0);
    EXPECT_EQ(fake::resume_calls(), 0);
}

TEST_F(DebugCoreInit, EventsThatCannotBeCreatedRefuseStartUp) {
    fake::set_event_creation(false);
    EXPECT_EQ(debug_core_init(), 3);
    EXPECT_EQ(load_debug_state(), STATE_UNINIT);
}

// A waiter that only ever gives way to threads of its own priority or higher could keep a
// preempted holder of lower priority from ever releasing the lock.
TEST_F(DebugCoreInit, LockWaiterSoonGivesWayToAnyThread) {
    ASSERT_EQ(debug_core_init(), 0);
    core_lock_acquire();
    std::atomic<bool> polled{false};
    std::thread console([&] {
        DEBUG_EVENT copy;
        debug_poll_event(&copy);
        polled.store(true);
    });
    bool gave_way = spin_until([] { return fake::yields() > 0; });
    core_lock_release();
    console.join();
    EXPECT_TRUE(gave_way) << "the waiter never yielded to any thread";
    EXPECT_TRUE(polled.load());
}

} // namespace
