#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <iterator>
#include <string>
#include <unistd.h>

#include "WException.h"

// A fresh folder under the temporary directory, removed with its content.
class TempDir {
public:
    TempDir()
    {
        const char* base = getenv("TMPDIR");
        std::string templ = std::string(base != nullptr && *base ? base : "/tmp") + "/zvfileXXXXXX";
        char* made = mkdtemp(templ.data());
        if (made == nullptr) throw std::runtime_error("mkdtemp failed");
        root = made;
    }
    ~TempDir()
    {
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
    }

    std::string path(const std::string& name) const { return root + "/" + name; }

    std::string write(const std::string& name, const std::string& content) const
    {
        std::ofstream out(path(name), std::ios::binary);
        out << content;
        return path(name);
    }

    std::string read(const std::string& name) const { return slurp(path(name)); }

    static std::string slurp(const std::string& file)
    {
        std::ifstream in(file, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    std::string root;
};

// What a caught exception carried (copying the exception itself would drop
// its system error code).
struct Caught {
    WString message;
    WString text;
    int id = 0;
    unsigned long sysErrCode = 0;

    const WString& getMessage() const { return message; }
    int getId() const { return id; }
    unsigned long getSysErrCode() const { return sysErrCode; }
};

// Runs f and reports the exception of type E it throws (fails otherwise).
template <class E, class F>
Caught expectThrow(F f)
{
    Caught caught;
    try {
        f();
        ADD_FAILURE() << "nothing thrown";
    } catch (const E& e) {
        caught.message = e.getMessage();
        caught.text = e.toString();
        caught.id = e.getId();
        caught.sysErrCode = e.getSysErrCode();
    } catch (const WException& other) {
        ADD_FAILURE() << "unexpected " << other.toString().getBuf();
    }
    return caught;
}
