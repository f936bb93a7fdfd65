// The entry point of the test programs. A cabinet dropped in a test is unpacked by a child
// process that is the test program itself, started as the program starts its own.
#include "registration/registration.h"

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    int exitCode = 0;
    if (RunAsUnpackChild(&exitCode)) return exitCode;
    HoldProgramFile();
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
