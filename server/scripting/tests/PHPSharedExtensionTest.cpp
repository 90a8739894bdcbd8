// Opening PHP extensions that live in their own files: the runtime's own gd.so
// opens; missing files, other libraries and extensions built for another
// runtime are refused with a reason and leave nothing open.

#include "internal/PHPSharedExtension.h"

#include "ServerTestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include <dlfcn.h>

namespace {

// gd.so of the runtime this test links, found next to libphp.so; "" when that
// runtime has none (Debian's).
std::string runtimeGd()
{
    void* symbol = dlsym(RTLD_DEFAULT, "php_module_startup");
    Dl_info info {};
    if (symbol == nullptr || dladdr(symbol, &info) == 0 || info.dli_fname == nullptr) return "";
    std::filesystem::path extensions = std::filesystem::path(info.dli_fname).parent_path() / "extensions";
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(extensions, error)) {
        std::filesystem::path gd = entry.path() / "gd.so";
        if (std::filesystem::exists(gd)) return gd.string();
    }
    return "";
}

} // namespace

TEST(PHPSharedExtension, RefusesWhatIsNotAnExtensionOfThisRuntime)
{
    servertest::TempFolder folder;
    folder.write("text.so", "not a library\n");
    std::string gd = runtimeGd();
    std::string foreignGd;
    if (!gd.empty()) {
        // The same extension, marked as built for a non-thread-safe runtime.
        std::string bytes = servertest::readFile(gd);
        size_t at = bytes.find(",TS");
        ASSERT_NE(std::string::npos, at);
        bytes[at + 1] = 'N';
        folder.write("foreign/gd.so", bytes);
        foreignGd = folder.path("foreign/gd.so");
    }
    struct Case {
        std::string path;
        std::string why; // a part of the reason
    };
    const Case cases[] = {
        {folder.path("missing.so"), "missing.so"},
        {folder.path("text.so"), "text.so"},
        {"libm.so.6", "libm.so.6 is not a PHP extension"},
        {foreignGd, "was built as API20220829,NS"},
    };
    for (const Case& c : cases) {
        if (c.path.empty()) continue;
        SCOPED_TRACE(c.path);
        PHPSharedExtension extension;
        char why[256] = "unchanged";
        EXPECT_FALSE(openPHPExtension(c.path.c_str(), extension, why, sizeof(why)));
        EXPECT_NE(std::string::npos, std::string(why).find(c.why)) << why;
        EXPECT_EQ(nullptr, extension.handle);
        EXPECT_EQ(nullptr, extension.module);
    }
}

TEST(PHPSharedExtension, OpensTheRuntimesGd)
{
    std::string gd = runtimeGd();
    if (gd.empty()) GTEST_SKIP() << "the runtime has no gd.so";
    PHPSharedExtension extension;
    char why[256] = "unchanged";
    ASSERT_TRUE(openPHPExtension(gd.c_str(), extension, why, sizeof(why))) << why;
    EXPECT_STREQ("", why);
    EXPECT_NE(nullptr, extension.module);
    ASSERT_NE(nullptr, extension.handle);
    dlclose(extension.handle);
}
