// The settings the server starts with, as its printout shows them, for
// configuration files with defaults, odd numbers and over-long texts.
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "e2e/process.h"
#include "e2e/server_log.h"
#include "support/temp_dir.h"

namespace e2e {
namespace {

using testing_support::TempDir;

struct SettingsCase {
  const char* name;
  std::string ini;
  std::vector<std::string> refusals;  // entries between the loading line and the printout
  Printout shown;
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const SettingsCase& c, std::ostream* os) { *os << c.name; }

Printout with(void (*change)(Printout*)) {
  Printout values;
  change(&values);
  return values;
}

std::string refusal(const std::string& section, const std::string& key, int limit,
                    const std::string& fallback) {
  return stamped("importIniSettings(): ERROR [" + section + "] " + key + " is longer than " +
                 std::to_string(limit) + " characters, using the default (" + fallback + ").");
}

const std::string k127(127, 'p');
const std::string k254(254, 't');

std::vector<SettingsCase> settingsCases() {
  return {
      {"LoneServerHeaderGivesEveryDefault", "[server]\n", {}, Printout()},
      {"EveryPrintedKeyIsRead",
       "[server]\nport=2345\nmaxclients=7\n"
       "[camera]\npretrigger=1\nfileprefix=survey/run1_\ninterval=250\n"
       "[trigger]\nserialport=/dev/ttyUSB0\nbaudrate=9600\nbits=7\nparity=E\nstop=2\n",
       {},
       with([](Printout* p) {
         p->serverPort = "2345";
         p->serverMaxUsers = "7";
         p->cameraPreTrigger = "1";
         p->cameraFilePrefix = "survey/run1_";
         p->cameraInterval = "250";
         p->triggerPortName = "/dev/ttyUSB0";
         p->triggerBaudRate = "9600";
         p->triggerBits = "7";
         p->triggerParity = "E";
         p->triggerStop = "2";
       })},
      {"PretriggerOneIsOn", "[camera]\npretrigger=1\n", {}, with([](Printout* p) {
         p->cameraPreTrigger = "1";
       })},
      {"PretriggerTwoIsOff", "[camera]\npretrigger=2\n", {}, Printout()},
      {"BitsAndStopKeepTheirLow16Bits",
       "[trigger]\nbits=65544\nstop=65538\n",
       {},
       with([](Printout* p) {
         p->triggerBits = "8";
         p->triggerStop = "2";
       })},
      {"PrefixOfTheFullFieldIsKept",
       "[camera]\nfileprefix=" + k127 + "\n",
       {},
       with([](Printout* p) { p->cameraFilePrefix = k127; })},
      {"OverlongPrefixIsRefused",
       "[camera]\nfileprefix=" + std::string(200, 'p') + "\n",
       {refusal("camera", "fileprefix", 127, "AUV_")},
       Printout()},
      {"PrefixOneOverTheFieldIsRefused",
       "[camera]\nfileprefix=" + k127 + "q\n",
       {refusal("camera", "fileprefix", 127, "AUV_")},
       Printout()},
      {"PortNameOfTheFullFieldIsKept",
       "[trigger]\nserialport=" + k254 + "\n",
       {},
       with([](Printout* p) { p->triggerPortName = k254; })},
      {"OverlongTriggerPortIsRefused",
       "[trigger]\nserialport=" + std::string(300, 't') + "\n",
       {refusal("trigger", "serialport", 254, "COM1")},
       Printout()},
      {"OverlongLaserPortIsRefused",
       "[laserpower]\nserialport=" + std::string(300, 'l') + "\n",
       {refusal("laserpower", "serialport", 254, "COM1")},
       Printout()},
      // Longer than any buffer the reader might use for a value.
      {"HugeValuesAreRefusedInReadingOrder",
       "[laserpower]\nserialport=" + std::string(5000, 'l') +
           "\n[camera]\nfileprefix=" + std::string(5000, 'p') + "\n",
       {refusal("camera", "fileprefix", 127, "AUV_"),
        refusal("laserpower", "serialport", 254, "COM1")},
       Printout()},
  };
}

class SettingsTest : public testing::TestWithParam<SettingsCase> {};

// Only the entries up to the printout matter here; the server is killed
// afterwards, whatever it does next.
TEST_P(SettingsTest, PrintoutShowsWhatWasRead) {
  const SettingsCase& c = GetParam();
  TempDir dir;
  dir.write("Skerrow.ini", c.ini);
  ServerProcess server(dir.path(), {"Skerrow.ini"});
  ASSERT_TRUE(server.started()) << server.startError();
  ASSERT_TRUE(server.out().waitUntil(holdsPrintout)) << server.out().text();

  std::vector<std::string> expected{stamped("Skerrow:main(): Loading INI File (Skerrow.ini)...")};
  append(&expected, c.refusals);
  append(&expected, printoutLines(c.shown));
  EXPECT_TRUE(framedBy(describe(parseLog(server.out().text())), expected, {}));
}

INSTANTIATE_TEST_SUITE_P(e2e, SettingsTest, testing::ValuesIn(settingsCases()),
                         [](const testing::TestParamInfo<SettingsCase>& param) {
                           return std::string(param.param.name);
                         });

}  // namespace
}  // namespace e2e
