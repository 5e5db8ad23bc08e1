#include "platform/module.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

#include "support/temp_tree.h"

namespace ferretta::platform {
namespace {

// Where the programs' modules are looked for, and what is told when none can be used. The test
// program's environment is its own: the variable is set without being restored.
TEST(ModuleTest, TheFirstModuleThatHasTheEntryIsLoaded) {
    const test::TempTree root;
    const std::string notAModule = root.write("not-a-module.so", "text, not a shared object");
    const struct {
        std::string named;  // $FERRETTA_TEST_MODULE
        const char* entry;
        bool found;
        std::string failure;  // what the failure starts with
    } cases[] = {
        {root.path("missing.so"), "ferrettaPimMakeDesktopItemStore", false,
         "ferretta-test-module.so not found beside "},
        {notAModule, "ferrettaPimMakeDesktopItemStore", false, notAModule + ": "},
        {FERRETTA_TEST_MODULE, "noSuchEntry", false,
         std::string(FERRETTA_TEST_MODULE) + ": no noSuchEntry"},
        {FERRETTA_TEST_MODULE, "ferrettaPimMakeDesktopItemStore", true, ""},
    };
    for (const auto& c : cases) {
        ::setenv("FERRETTA_TEST_MODULE", c.named.c_str(), 1);
        const ModuleEntry loaded =
            loadModuleEntry("FERRETTA_TEST_MODULE", "ferretta-test-module.so",
                            "../lib/ferretta/ferretta-test-module.so", c.entry);
        EXPECT_EQ(loaded.entry != nullptr, c.found) << c.named << " " << c.entry;
        EXPECT_TRUE(loaded.failure.starts_with(c.failure)) << loaded.failure;
    }
}

}  // namespace
}  // namespace ferretta::platform
