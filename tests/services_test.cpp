// What the applications scan asks of an Env whose registry is made up: every answer comes from
// that registry, on Windows too, where the real service manager, search path and environment
// must not leak in.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/memory_registry.h"

namespace keldrun {
namespace {

const char kFakeMachine[] =
    "Windows Registry Editor Version 5.00\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion]\r\n"
    "\"SystemRoot\"=\"Q:\\\\FakeWin\"\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Session Manager\\Environment]\r\n"
    "\"KELDRUN_ONLY_HERE\"=\"from the made-up registry\"\r\n"
    "\"Path\"=\"Q:\\\\FakeWin\\\\system32\"\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\KeldrunFake]\r\n"
    "\"Type\"=dword:00000010\r\n"
    "\"Start\"=dword:00000002\r\n"
    "\"DisplayName\"=\"Keldrun made-up service\"\r\n"
    "\"ImagePath\"=hex(2):25,00,53,00,79,00,73,00,74,00,65,00,6d,00,52,00,6f,00,6f,00,74,00,\\\r\n"
    "  25,00,5c,00,66,00,61,00,6b,00,65,00,2e,00,65,00,78,00,65,00,00,00\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\NotAService]\r\n"
    "\"Start\"=dword:00000003\r\n";

TEST(MadeUpRegistryEnv, AnswersFromItsOwnRegistryOnly) {
  std::shared_ptr<MemoryRegistry> registry = MemoryRegistry::create();
  std::string error;
  ASSERT_TRUE(registry->applyReg(kFakeMachine, &error)) << error;
  MemoryRegistryEnv env(registry);

  std::vector<ServiceConfig> services;
  ASSERT_TRUE(env.listServices(&services));
  ASSERT_EQ(services.size(), 1u);  // the key without a Type is no service
  EXPECT_EQ(services[0].serviceName, u"KeldrunFake");
  EXPECT_EQ(services[0].displayName, u"Keldrun made-up service");
  EXPECT_EQ(services[0].startType, 2u);
  EXPECT_EQ(services[0].binaryPath, u"Q:\\FakeWin\\fake.exe");

  EXPECT_EQ(env.windowsFolder(), u"Q:\\FakeWin\\");
  EXPECT_EQ(env.expandEnvironment(u"%KELDRUN_ONLY_HERE%"), u"from the made-up registry");
  // Unknown variables stay as written, whatever the process running the test has.
  EXPECT_EQ(env.expandEnvironment(u"%PATHEXT%|%TEMP%"), u"%PATHEXT%|%TEMP%");

  // Its drives hold no files, so nothing is found, not even what every real system has.
  std::u16string found;
  EXPECT_FALSE(env.searchExecutable(u"notepad.exe", &found)) << std::string(found.begin(), found.end());
  EXPECT_FALSE(env.searchExecutable(u"C:\\windows\\system32\\kernel32.dll", &found));
  uint64_t lastWrite = 0, size = 0;
  EXPECT_FALSE(env.fileStatus(u"C:\\windows\\system32\\kernel32.dll", &lastWrite, &size));
}

}  // namespace
}  // namespace keldrun
