#include "base/MainThread.h"

#include <gtest/gtest.h>
#include <memory>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // The thread running main is the main thread for every call handed over by CallInMainThread.
    tarnel::InstallMainThreadDispatcher(std::make_shared<tarnel::QueueDispatcher>());
    return RUN_ALL_TESTS();
}
