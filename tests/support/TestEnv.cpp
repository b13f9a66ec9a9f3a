#include "TestEnv.h"

#include "model/ASafeFile.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace cardmill::test {

TempDir::TempDir()
{
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/cardmill-test-XXXXXX";
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("cannot create a temporary folder");
    path = pattern;
}

TempDir::~TempDir()
{
    std::error_code error;
    std::filesystem::remove_all(path, error);
}

std::string TempDir::Write(const std::string& name, const std::vector<std::uint8_t>& bytes) const
{
    const std::string file = File(name);
    std::filesystem::create_directories(std::filesystem::path(file).parent_path());
    std::ofstream out(file, std::ios::binary);
    out.write(
        reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return file;
}

std::string TempDir::Write(const std::string& name, const std::string& text) const
{
    return Write(name, std::vector<std::uint8_t>(text.begin(), text.end()));
}

Strings Missing(std::string_view text, Strings parts)
{
    std::erase_if(parts, [&](const std::string& part) { return text.find(part) != text.npos; });
    return parts;
}

std::vector<std::uint8_t> ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return { std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>() };
}

std::string ReadText(const std::string& path)
{
    const auto bytes = ReadFile(path);
    return { bytes.begin(), bytes.end() };
}

std::string Numbered(std::string_view stem, int number, std::string_view extension)
{
    std::string name(stem);
    name += std::to_string(number);
    name += extension;
    return name;
}

FailingWrite::FailingWrite(int nth)
{
    SafeOutput::FailWriteForTesting(nth);
}

FailingWrite::~FailingWrite()
{
    SafeOutput::FailWriteForTesting(0);
}

ScopedEnv::ScopedEnv(const char* variable, const char* value)
    : name(variable)
{
    if (const char* old = std::getenv(variable))
        previous = old;
    if (value)
        ::setenv(variable, value, 1);
    else
        ::unsetenv(variable);
}

ScopedEnv::~ScopedEnv()
{
    if (previous)
        ::setenv(name.c_str(), previous->c_str(), 1);
    else
        ::unsetenv(name.c_str());
}

} // namespace cardmill::test
