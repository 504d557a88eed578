#include "ui/preset_group.h"

#include <gtest/gtest.h>

#include "settings/ini_file.h"
#include "tests/ui/started_program.h"

using namespace morvane;
using namespace morvane::fixture;
namespace fs = std::filesystem;

TEST(PresetGroup, SaveModeCaptionsSelectionAndCancel) {
    TemporaryDirectory dir;
    StartedProgram program(dir / "morvane.ini");
    PresetGroup& group = program.presets;
    EXPECT_STREQ(group.SaveButtonCaption(), "音色保存");
    EXPECT_STREQ(group.PresetGroupCaption(), "音色プリセット");
    EXPECT_EQ(group.SelectedSlot(), 0);

    group.ButtonPresetSaveClick();
    EXPECT_TRUE(group.SaveMode());
    EXPECT_STREQ(group.SaveButtonCaption(), "キャンセル");
    EXPECT_STREQ(group.PresetGroupCaption(), "保存先を選択してください");
    EXPECT_EQ(group.SelectedSlot(), kNothingSelected);

    // F3 in save mode writes the panel into slot 2 and ends save mode.
    program.controls.Set(NoiseVol, 42);
    ASSERT_TRUE(program.PressFunctionKey(2).ok());
    EXPECT_FALSE(group.SaveMode());
    EXPECT_STREQ(group.SaveButtonCaption(), "音色保存");
    EXPECT_EQ(group.SelectedSlot(), 2);
    EXPECT_EQ(program.controls.Position(NoiseVol), 42);
    EXPECT_EQ(IniFile::Parse(ReadBytes(dir / "morvane.ini")).ReadInteger("PRESET2", "NOISE_VOL", 0),
              42);

    // Cancel: no slot selected, nothing saved, the sound as it was.
    const std::string saved = ReadBytes(dir / "morvane.ini");
    program.controls.Set(NoiseVol, 7);
    group.ButtonPresetSaveClick();
    group.ButtonPresetSaveClick();
    EXPECT_FALSE(group.SaveMode());
    EXPECT_STREQ(group.PresetGroupCaption(), "音色プリセット");
    EXPECT_EQ(group.SelectedSlot(), kNothingSelected);
    EXPECT_EQ(program.sound.NoiseLevel, 7);
    EXPECT_EQ(ReadBytes(dir / "morvane.ini"), saved);
}

TEST(PresetGroup, ClickOnTheSelectedSlotDoesNothingButItsFunctionKeyReloads) {
    TemporaryDirectory dir;
    WriteBytes(dir / "morvane.ini", "[PRESET4]\nNOISE_VOL=30\n");
    StartedProgram program(dir / "morvane.ini");
    ASSERT_TRUE(program.presets.SelectSlot(4).ok());
    EXPECT_EQ(program.sound.NoiseLevel, 30);

    program.controls.Set(NoiseVol, 80);
    ASSERT_TRUE(program.presets.SelectSlot(4).ok());
    EXPECT_EQ(program.sound.NoiseLevel, 80);
    ASSERT_TRUE(program.PressFunctionKey(4).ok());
    EXPECT_EQ(program.sound.NoiseLevel, 30);
}

TEST(PresetGroup, FailedSaveIsReportedWithSaveModeAlreadyOff) {
    TemporaryDirectory dir;
    WriteBytes(dir / "plain", "x");
    const fs::path unwritable = dir / "plain" / "morvane.ini";
    StartedProgram program(unwritable);
    program.presets.ButtonPresetSaveClick();
    const Status error = program.presets.SelectSlot(1);
    ASSERT_FALSE(error.ok());
    EXPECT_EQ(error.error().message, "ファイル " + unwritable.string() + " を作成できません.");
    EXPECT_FALSE(program.presets.SaveMode());
}

// A program change loads its preset and leaves save mode as the user left it: in save
// mode the next function key still saves, whichever slot the change loaded.
TEST(PresetGroup, ProgramChangeLoadsAndKeepsTheSaveMode) {
    const struct {
        const char* what;
        bool saveMode;
        int program, key; // the program change's slot, then the function key pressed
        int noiseAfter;   // the panel's noise level at the end
        int savedInKey;   // the noise level the key's slot holds in the file
    } cases[] = {
        {"outside save mode the key loads", false, 3, 5, 50, 50},
        {"in save mode the key saves", true, 3, 5, 30, 30},
        {"in save mode, the key of the slot just loaded saves it", true, 3, 3, 30, 30},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TemporaryDirectory dir;
        WriteBytes(dir / "morvane.ini", "[PRESET3]\nNOISE_VOL=30\n[PRESET5]\nNOISE_VOL=50\n");
        StartedProgram program(dir / "morvane.ini");
        if (c.saveMode)
            program.presets.ButtonPresetSaveClick();
        ASSERT_TRUE(program.presets.LoadSlot(c.program).ok());
        EXPECT_EQ(program.sound.NoiseLevel, 30);
        EXPECT_EQ(program.presets.SaveMode(), c.saveMode);
        EXPECT_EQ(program.presets.SelectedSlot(), c.saveMode ? kNothingSelected : c.program);
        ASSERT_TRUE(program.PressFunctionKey(c.key).ok());
        EXPECT_FALSE(program.presets.SaveMode());
        EXPECT_EQ(program.sound.NoiseLevel, c.noiseAfter);
        EXPECT_EQ(IniFile::Parse(ReadBytes(dir / "morvane.ini"))
                      .ReadInteger("PRESET" + std::to_string(c.key), "NOISE_VOL", 0),
                  c.savedInKey);
    }
}
