// Scratch registry keys and a scratch program folder for the settings store
// tests, so each test works on names no other test (or run) uses and leaves
// nothing behind.
#pragma once

#include <windows.h>

#include <string>

#include <gtest/gtest.h>

namespace settingstest {

// A name no other test of this run uses, short enough for a model name.
std::string UniqueName(const char *tag);

// A key under HKEY_CURRENT_USER for tests of the value helpers, removed by
// TearDown. `key` is open with read and write access.
class ScratchKeyTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    std::string path;
    HKEY key = nullptr;
};

// A model of its own: Module.ini naming it in a scratch program folder that
// ModulePath points into, and the machine and user model key paths, all
// removed by TearDown together with SettingsKey.
class ModelTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    void WriteModuleIni(const std::string &contents);
    // Makes `root`\modelKeyPath\`instance` (and its parents); sets a value
    // when `name` is given.
    void SetText(HKEY root, const std::string &instance, const char *name, const std::string &text);
    std::string InstancePath(const std::string &instance) const { return modelKeyPath + "\\" + instance; }

    std::string model;
    std::string modelKeyPath;
    std::string programFolder; // the scratch folder Module.ini lies in
};

// The value's raw bytes and type as the wide functions see them (no code
// page conversion); false when it is missing.
bool GetWideRawValue(HKEY root, const std::string &path, const wchar_t *name, DWORD *type, std::string *data);
bool KeyExists(HKEY root, const std::string &path);
bool ValueExists(HKEY root, const std::string &path, const char *name);

} // namespace settingstest
