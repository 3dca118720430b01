// Scratch registry keys and program folders for the settings store tests.
#include "registry_fixture.h"

#include <cstdio>
#include <cstring>

#include "settings.h"
#include "shared.h"
#include "test_support.h"

namespace settingstest {

namespace {
const char *const SCRATCH_PARENT = "Software\\Velmora Tests";
}

std::string UniqueName(const char *tag)
{
    static unsigned counter;
    char name[32];
    snprintf(name, sizeof name, "%s%lx-%u", tag, GetCurrentProcessId(), ++counter);
    return name;
}

void ScratchKeyTest::SetUp()
{
    path = std::string(SCRATCH_PARENT) + "\\" + UniqueName("v");
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                             KEY_READ | KEY_WRITE, nullptr, &key, nullptr));
}

void ScratchKeyTest::TearDown()
{
    if (key)
        RegCloseKey(key);
    testsupport::DeleteRegistryTree(HKEY_CURRENT_USER, path);
    // Only goes when no other scratch key is left under it.
    RegDeleteKeyA(HKEY_CURRENT_USER, SCRATCH_PARENT);
}

void ModelTest::SetUp()
{
    model = UniqueName("vm");
    ASSERT_LE(model.size(), 19u);
    modelKeyPath = std::string(MODEL_KEY_BASE) + model;
    programFolder = testsupport::MakeScratchFolder("settings");
    ASSERT_FALSE(programFolder.empty());
    snprintf(ModulePath, sizeof ModulePath, "%s\\Velmora.exe", programFolder.c_str());
    ModulePathTail = strrchr(ModulePath, '\\') + 1;
    WriteModuleIni("[SYSTEM]\r\nModule=" + model + "\r\n");
}

void ModelTest::TearDown()
{
    if (SettingsKey) {
        RegCloseKey(SettingsKey);
        SettingsKey = nullptr;
    }
    testsupport::DeleteRegistryTree(HKEY_LOCAL_MACHINE, modelKeyPath);
    testsupport::DeleteRegistryTree(HKEY_CURRENT_USER, modelKeyPath);
    testsupport::RemoveTree(programFolder);
}

void ModelTest::WriteModuleIni(const std::string &contents)
{
    ASSERT_TRUE(testsupport::WriteWholeFile(programFolder + "\\Module.ini", contents));
}

void ModelTest::SetText(HKEY root, const std::string &instance, const char *name, const std::string &text)
{
    // Stored with its terminator, as an installer would write it.
    ASSERT_TRUE(testsupport::SetRawValue(root, InstancePath(instance), name, REG_SZ, text.c_str(),
                                         (DWORD)text.size() + 1));
}

bool GetWideRawValue(HKEY root, const std::string &path, const wchar_t *name, DWORD *type, std::string *data)
{
    HKEY key;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    DWORD size = 0;
    LONG status = RegQueryValueExW(key, name, nullptr, type, nullptr, &size);
    if (status == ERROR_SUCCESS) {
        data->assign(size, '\0');
        status = RegQueryValueExW(key, name, nullptr, type, size ? (BYTE *)&(*data)[0] : nullptr, &size);
        data->resize(size);
    }
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

bool KeyExists(HKEY root, const std::string &path)
{
    HKEY key;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

bool ValueExists(HKEY root, const std::string &path, const char *name)
{
    DWORD type;
    std::string data;
    return testsupport::GetRawValue(root, path, name, &type, &data);
}

} // namespace settingstest
