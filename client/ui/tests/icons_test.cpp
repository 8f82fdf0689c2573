// Users' pictures without the server: the bitmap facts and checks, the preview, the files of a
// download against a scripted loopback peer, the reset, and the dialogs offscreen.

#include <gtest/gtest.h>
#include <unistd.h>

#include <QCheckBox>
#include <QImage>
#include <QLineEdit>
#include <QMessageBox>
#include <fstream>
#include <thread>

#include "contacts_test_support.h"
#include "icons_test_support.h"
#include "talvorine/client/data/contact_list_store.h"
#include "talvorine/client/session/picture_requests.h"
#include "talvorine/client/ui/contacts/contact_list_bar.h"
#include "talvorine/client/ui/icons/bmp_dialog.h"
#include "talvorine/client/ui/icons/dlg_customize_icons.h"
#include "talvorine/client/ui/icons/picture_windows.h"
#include "talvorine/client/ui/icons/user_pictures.h"
#include "talvorine/platform/little_endian.h"
#include "talvorine/protocol/packet.h"
#include "talvorine/protocol/socket.h"
#include "talvorine/testing/qt_test_support.h"
#include "test_folders.h"

namespace talvorine::client::ui::icons {
namespace {

namespace fs = std::filesystem;
using data::testing::TempHome;
using talvorine::testing::AnswerBoxes;
using testing::MakeBitmap;

constexpr const char* Own = "10000001";
constexpr const char* Bob = "20000002";

class PictureFiles : public TempHome {
protected:
    fs::path Write(const std::string& name, const std::vector<std::uint8_t>& bytes) {
        const fs::path path = Root() / name;
        WriteBytes(path, bytes);
        return path;
    }
    fs::path Icons() const { return Home() / "Users" / Own / "Icons"; }
    fs::path BobFile(int slot) const { return PictureFile(Icons(), Bob, slot); }
};

TEST(BitmapHeaderTest, ReadsTheFieldsOfEveryDepthAndRefusesShortOrForeignBytes) {
    for (int bits : {1, 4, 8, 16, 24, 32}) {
        const auto header = ReadBitmapHeader(MakeBitmap(48, 20, bits));
        ASSERT_TRUE(header) << bits;
        EXPECT_EQ(header->width, 48);
        EXPECT_EQ(header->height, 20);
        EXPECT_EQ(header->bitsPerPixel, bits);
    }
    auto bytes = MakeBitmap(32, 32, 8);
    // Every cut short of the fields is refused, never read past.
    for (std::size_t length = 0; length < 30; ++length) {
        EXPECT_FALSE(ReadBitmapHeader(std::span(bytes).first(length))) << length;
    }
    EXPECT_TRUE(ReadBitmapHeader(std::span(bytes).first(30)));
    // A top-down bitmap has a negative height.
    platform::StoreLe32(std::span(bytes).subspan(22), static_cast<std::uint32_t>(-32));
    EXPECT_EQ(ReadBitmapHeader(bytes)->height, 32);
    platform::StoreLe32(std::span(bytes).subspan(22), 0x80000000u);
    EXPECT_FALSE(ReadBitmapHeader(bytes));
    bytes[0] = 'P';
    EXPECT_FALSE(ReadBitmapHeader(bytes));
}

TEST(PreviewTest, LinesForEachDepthAndSizeInWholeKilobytes) {
    const std::pair<int, const char*> depths[] = {
        {1, "Colors: 2 (monocromatic)"}, {4, "Colors: 16"},           {8, "Colors: 256"},
        {16, "Colors: 65,536"},          {24, "Colors: 16 millions"}, {32, ""}};
    for (const auto& [bits, line] : depths) {
        EXPECT_EQ(ColourLine(bits), line) << bits;
    }
    const PreviewLines lines = MakePreviewLines({640, 480, 24}, 2047);
    EXPECT_EQ(lines.width, "Width: 640 pixels");
    EXPECT_EQ(lines.height, "Height: 480 pixels");
    EXPECT_EQ(lines.size, "Size: 1 Kb");
    EXPECT_EQ(MakePreviewLines({1, 1, 1}, 1023).size, "Size: 0 Kb");
}

TEST(PreviewTest, PlacesFittingBitmapsAtTheirSizeAndScalesOthersByTheirLongerSide) {
    const PreviewPlace small = PlacePreview(32, 32, 94, 94);
    EXPECT_EQ(small.width, 32);
    EXPECT_EQ(small.x, 31);
    EXPECT_EQ(small.y, 31);
    const PreviewPlace wide = PlacePreview(200, 100, 94, 94);
    EXPECT_EQ(wide.width, 94);
    EXPECT_EQ(wide.height, 47);
    EXPECT_EQ(wide.x, 0);
    EXPECT_EQ(wide.y, 23);
    const PreviewPlace tall = PlacePreview(50, 200, 94, 94);
    EXPECT_EQ(tall.height, 94);
    EXPECT_EQ(tall.width, 23);
    EXPECT_EQ(tall.x, 35);
    EXPECT_EQ(PlacePreview(0, 10, 94, 94).width, 0);
}

TEST(ChooserFilterTest, SplitsThePairsAndStopsAtTheClosingBars) {
    const auto pairs = SplitFilter(ChooserFilter(0));
    ASSERT_EQ(pairs.size(), 2u);
    EXPECT_EQ(pairs[0].first, "Bitmap Files(*.bmp (32x32x256))");
    EXPECT_EQ(pairs[0].second, "*.bmp");
    EXPECT_EQ(pairs[1].second, "*.*");
    EXPECT_EQ(SplitFilter(ChooserFilter(2))[0].first, "Bitmap Files(*.bmp)");
}

TEST_F(PictureFiles, ChecksSizeBitmapAndReadability) {
    EXPECT_FALSE(CheckPictureFile(Write("ok.bmp", MakeBitmap(32, 32, 8))));
    EXPECT_FALSE(CheckPictureFile(Write("ok24.bmp", MakeBitmap(32, 32, 24))));
    EXPECT_EQ(CheckPictureFile(Write("short.bmp", MakeBitmap(32, 31, 8))),
              std::string(PictureText::SizeError));
    EXPECT_EQ(CheckPictureFile(Write("wide.bmp", MakeBitmap(33, 32, 24))),
              std::string(PictureText::SizeError));
    EXPECT_EQ(CheckPictureFile(Write("text.bmp", {'h', 'e', 'l', 'l', 'o'})),
              std::string(PictureText::NotBitmap));
    auto cut = MakeBitmap(32, 32, 24);
    cut.resize(60);
    EXPECT_EQ(CheckPictureFile(Write("cut.bmp", cut)), std::string(PictureText::NotBitmap));
    EXPECT_EQ(CheckPictureFile(Root() / "missing.bmp"), std::string("No such file or directory"));
    EXPECT_EQ(CheckPictureFile(Root()), std::string("Is a directory"));

    EXPECT_EQ(CheckChosenPictures({"", "", ""})->text, "Please select at least one file.");
    EXPECT_EQ(CheckChosenPictures({"", "", ""})->slot, 0);
    const auto refused =
        CheckChosenPictures({(Root() / "ok.bmp").string(), "", (Root() / "short.bmp").string()});
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->slot, 2);
    EXPECT_EQ(refused->text,
              "Failed to open bitmap of 'N/A' status:\r\nBitmap size error. Must be 32X32 pixels");
    EXPECT_EQ(ChooserRefusal(2, "x"), "Failed to open bitmap of 'NA' status:\r\nx");
    EXPECT_FALSE(CheckChosenPictures({"", (Root() / "ok.bmp").string(), ""}));
}

TEST_F(PictureFiles, AnOwnPictureOfTheTransferBufferSizeIsRefusedBeforeItIsRead) {
    std::vector<std::uint8_t> largest(session::PictureBufferSize - 1, 7);
    const PictureBytes read = ReadOwnPicture(Write("largest.bmp", largest));
    EXPECT_TRUE(read.error.empty());
    EXPECT_EQ(read.bytes, largest);
    largest.push_back(7);
    const PictureBytes refused = ReadOwnPicture(Write("full.bmp", largest));
    EXPECT_EQ(refused.error, PictureText::FileTooLarge);
    EXPECT_TRUE(refused.bytes.empty());
    // A sparse file of a gigabyte is refused by its size alone.
    const fs::path huge = Root() / "huge.bmp";
    { std::ofstream(huge).put('x'); }
    fs::resize_file(huge, 1u << 30);
    EXPECT_EQ(ReadOwnPicture(huge).error, PictureText::FileTooLarge);
    EXPECT_FALSE(ReadOwnPicture(Root() / "none.bmp").error.empty());
    // The upload itself refuses such bytes without a connection.
    EXPECT_THROW(session::UploadPicture({"127.0.0.1", 1}, Own, "pw", 0, largest),
                 session::AccountRequestError);
}

TEST_F(PictureFiles, ResetDeletesTheThreeFilesAndReportsOneThatStays) {
    fs::create_directories(Icons());
    WriteBytes(BobFile(0), MakeBitmap(32, 32, 8));
    WriteBytes(BobFile(2), MakeBitmap(32, 32, 8));
    WriteBytes(PictureFile(Icons(), Own, 0), MakeBitmap(32, 32, 8));
    EXPECT_TRUE(ResetUserPictures(Own, Bob).empty());
    EXPECT_FALSE(fs::exists(BobFile(0)));
    EXPECT_FALSE(fs::exists(BobFile(2)));
    EXPECT_TRUE(fs::exists(PictureFile(Icons(), Own, 0))) << "other owners' files stay";

    // A folder in a picture's place that cannot be removed is reported, and the rest goes on.
    fs::create_directories(BobFile(1) / "inside");
    WriteBytes(BobFile(2), MakeBitmap(32, 32, 8));
    const auto failures = ResetUserPictures(Own, Bob);
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0], "Failed to delete file " + BobFile(1).string() +
                               ":\r\n\r\nYou should delete it manually");
    EXPECT_FALSE(fs::exists(BobFile(2)));
}

TEST_F(PictureFiles, CopyReplacesTheTargetWholeOrNotAtAll) {
    fs::create_directories(Icons());
    const auto old = MakeBitmap(32, 32, 8, 1);
    WriteBytes(BobFile(0), old);
    EXPECT_TRUE(CopyPictureFile(Root() / "missing.bmp", BobFile(0)));
    EXPECT_EQ(ReadBytes(BobFile(0)), old);
    const auto fresh = MakeBitmap(32, 32, 24, 2);
    EXPECT_FALSE(CopyPictureFile(Write("fresh.bmp", fresh), BobFile(0)));
    EXPECT_EQ(ReadBytes(BobFile(0)), fresh);
    EXPECT_EQ(std::distance(fs::directory_iterator(Icons()), fs::directory_iterator()), 1)
        << "no temporary file is left";
}

// A loopback peer on the account port that answers picture downloads from a script: per
// connection the picture's bytes, a refusal text, a huge size, or a cut connection.
class ScriptedPeer {
public:
    struct Answer {
        enum Kind { Picture, Refusal, HugeSize, CutShort } kind = Picture;
        std::vector<std::uint8_t> bytes;
        std::string text;
    };
    explicit ScriptedPeer(std::vector<Answer> script) : m_script(std::move(script)) {
        EXPECT_EQ(protocol::ListenOn(m_listen.Ref(), 0, 8), 0);
        m_thread = std::thread([this] { Serve(); });
    }
    ~ScriptedPeer() {
        protocol::ShutdownSocket(m_listen.Get());
        m_thread.join();
    }
    session::AccountServer Server() const {
        return {"127.0.0.1", static_cast<std::uint16_t>(protocol::LocalPort(m_listen.Get()) - 1)};
    }
    int Served() const { return m_served; }

private:
    void Serve() {
        for (const Answer& answer : m_script) {
            protocol::Socket peer(protocol::AcceptOn(m_listen.Get(), nullptr));
            if (!peer.IsOpen()) {
                return;
            }
            std::vector<std::uint8_t> buffer(4095);
            try {
                protocol::ReceivePacket(peer.Get(), buffer, 5);
                std::array<std::uint8_t, 4> size{};
                switch (answer.kind) {
                    case Answer::Refusal:
                        if (answer.text.empty()) {
                            protocol::SendPacket(peer.Get(), 1, 5);
                        } else {
                            protocol::SendTextPacket(peer.Get(), 1, answer.text, 5);
                        }
                        break;
                    case Answer::HugeSize:
                        platform::StoreLe32(size, 40000);
                        protocol::SendPacket(peer.Get(), 0, size, 5);
                        break;
                    case Answer::Picture:
                    case Answer::CutShort:
                        platform::StoreLe32(size, static_cast<std::uint32_t>(answer.bytes.size()));
                        protocol::SendPacket(peer.Get(), 0, size, 5);
                        const auto sent =
                            answer.kind == Answer::CutShort
                                ? std::span(answer.bytes).first(answer.bytes.size() / 2)
                                : std::span(answer.bytes);
                        protocol::SendOrThrow(peer.Get(), sent, 5);
                        break;
                }
            } catch (const std::exception&) {
                return;
            }
            ++m_served;
        }
    }

    protocol::Socket m_listen;
    std::vector<Answer> m_script;
    std::atomic<int> m_served{0};
    std::thread m_thread;
};

TEST_F(PictureFiles, ADownloadCutHalfWayLeavesEveryOldPictureInPlace) {
    fs::create_directories(Icons());
    std::array<std::vector<std::uint8_t>, 3> old;
    for (int slot = 0; slot < 3; ++slot) {
        old[static_cast<std::size_t>(slot)] =
            MakeBitmap(32, 32, 8, static_cast<std::uint8_t>(slot));
        WriteBytes(BobFile(slot), old[static_cast<std::size_t>(slot)]);
    }
    const auto fresh = MakeBitmap(32, 32, 24, 9);
    using A = ScriptedPeer::Answer;
    ScriptedPeer peer(
        {A{A::Picture, fresh, {}}, A{A::Picture, fresh, {}}, A{A::CutShort, fresh, {}}});
    std::vector<int> steps;
    const PictureDownload download = DownloadUserPictures(
        peer.Server(), Own, Bob, "Bob", [&](int step, const std::string& line) {
            steps.push_back(step);
            if (step == 0) {
                EXPECT_EQ(line, "Updating 'Normal' icon of Bob...");
            }
        });
    EXPECT_EQ(download.fatal,
              "Failed to update:\r\n" + std::string(protocol::FramingText::ClosedByRemote));
    for (int slot = 0; slot < 3; ++slot) {
        EXPECT_EQ(ReadBytes(BobFile(slot)), old[static_cast<std::size_t>(slot)]) << slot;
    }
    EXPECT_EQ(steps, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(std::distance(fs::directory_iterator(Icons()), fs::directory_iterator()), 3);
}

TEST_F(PictureFiles, ADownloadReplacesWhatTheServerGaveAndReportsTheRest) {
    fs::create_directories(Icons());
    const auto old = MakeBitmap(32, 32, 8, 3);
    WriteBytes(BobFile(0), old);
    const auto fresh = MakeBitmap(32, 32, 24, 9);
    using A = ScriptedPeer::Answer;
    ScriptedPeer peer({A{A::Refusal, {}, "Customized icon not found"}, A{A::Picture, fresh, {}},
                       A{A::HugeSize, {}, {}}});
    int lastStep = -1;
    const PictureDownload download = DownloadUserPictures(
        peer.Server(), Own, Bob, "Bob", [&](int step, const std::string&) { lastStep = step; });
    EXPECT_TRUE(download.fatal.empty());
    EXPECT_EQ(lastStep, DownloadSteps - 1);
    EXPECT_EQ(ReadBytes(BobFile(0)), old) << "a refused picture keeps its file";
    EXPECT_EQ(ReadBytes(BobFile(1)), fresh);
    EXPECT_FALSE(fs::exists(BobFile(2)));
    EXPECT_EQ(DownloadReport(download),
              "The following icons can not be updated:\r\n\r\n'Normal' icon: Customized icon not "
              "found\r\n'NA' icon: File size error");
}

TEST_F(PictureFiles, ARefusalWithoutATextKeepsTheOldPicture) {
    fs::create_directories(Icons());
    const auto old = MakeBitmap(32, 32, 8, 3);
    WriteBytes(BobFile(0), old);
    using A = ScriptedPeer::Answer;
    ScriptedPeer peer({A{A::Refusal, {}, {}}, A{A::Refusal, {}, {}}, A{A::Refusal, {}, {}}});
    const PictureDownload download = DownloadUserPictures(peer.Server(), Own, Bob, "Bob");
    EXPECT_EQ(download.failures[0], "Incorrect packet received");
    EXPECT_EQ(ReadBytes(BobFile(0)), old);
    EXPECT_FALSE(fs::exists(BobFile(1)));
}

TEST_F(PictureFiles, AnIdThatIsNoUserIdNeverNamesAFile) {
    fs::create_directories(Root() / "elsewhere");
    WriteBytes(Root() / "elsewhere" / "x-1.bmp", {1});
    const std::string outside = "../../../../elsewhere/x";
    EXPECT_TRUE(ResetUserPictures(Own, outside).empty());
    EXPECT_TRUE(fs::exists(Root() / "elsewhere" / "x-1.bmp"));
    ScriptedPeer peer({});
    EXPECT_EQ(DownloadUserPictures(peer.Server(), Own, outside, "x").fatal,
              "Failed to update:\r\nInvalid argument");
    EXPECT_EQ(peer.Served(), 0);
}

TEST_F(PictureFiles, ADownloadWithoutAServerChangesNothing) {
    const std::uint16_t closedPort = [] {
        protocol::Socket probe;
        protocol::ListenOn(probe.Ref(), 0, 1);
        return protocol::LocalPort(probe.Get());
    }();
    const PictureDownload download = DownloadUserPictures(
        {"127.0.0.1", static_cast<std::uint16_t>(closedPort - 1)}, Own, Bob, "Bob");
    EXPECT_EQ(download.fatal.rfind("Failed to update:\r\n", 0), 0u) << download.fatal;
    EXPECT_TRUE(fs::is_empty(Icons()));
}

// --- Windows offscreen ---

class PictureWindows : public PictureFiles {
protected:
    CustomizeTarget Local() const {
        CustomizeTarget target;
        target.mode = CustomizeTarget::Mode::Local;
        target.accountId = Own;
        target.ownerId = Bob;
        return target;
    }
    bool showPreview = false;
};

TEST_F(PictureWindows, CustomizeShowsCurrentPicturesAndRefusesA32x31Bitmap) {
    fs::create_directories(Icons());
    WriteBytes(BobFile(1), MakeBitmap(32, 32, 8));
    WriteBytes(BobFile(2), MakeBitmap(32, 31, 8));
    CDlgCustomizeIcons dialog(Local(), Root(), showPreview, nullptr);
    EXPECT_EQ(dialog.windowTitle(), "Customize Icons");
    EXPECT_EQ(dialog.CurrentText(0), "<Default>");
    EXPECT_EQ(dialog.CurrentText(1).toStdString(), BobFile(1).string());
    EXPECT_TRUE(dialog.CurrentHasPicture(1));
    EXPECT_EQ(dialog.CurrentText(2), "<Default>") << "not 32x32";

    const fs::path bad = Write("bad.bmp", MakeBitmap(32, 31, 24));
    const auto boxes = AnswerBoxes([&] { dialog.Choose(0, QString::fromStdString(bad.string())); });
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text.toStdString(),
              "Failed to open bitmap of 'Normal' status:\nBitmap size error. Must be 32X32 pixels");
    EXPECT_TRUE(dialog.ChosenPath(0).isEmpty());

    const fs::path good = Write("good.bmp", MakeBitmap(32, 32, 4));
    EXPECT_TRUE(dialog.Choose(2, QString::fromStdString(good.string())));
    EXPECT_TRUE(dialog.ChosenHasPicture(2));

    // "Update" checks typed paths again.
    dialog.PathField(0)->setText(QString::fromStdString(bad.string()));
    const auto update = AnswerBoxes([&] { dialog.Update(); });
    ASSERT_EQ(update.size(), 1u);
    EXPECT_TRUE(update[0].text.startsWith("Failed to open bitmap of 'Normal' status:"));
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
}

TEST_F(PictureWindows, LocalModeCopiesTheChosenFilesAndTheListDrawsThemUntilReset) {
    data::ContactListStore store(Own);
    ASSERT_TRUE(store.AddGroup("Friends"));
    ASSERT_TRUE(store.AddContact("Friends", Bob, "Bob", ""));
    contacts::testing::RecordingHost host;
    data::ContactList list;
    std::mutex listMutex;
    contacts::CContactListBar bar(list, listMutex, host, &host.window);
    bar.LoadList(Own);
    bar.OpenGroup(0);
    bar.HandleStatusReport(Bob, 2);
    const QImage builtin = bar.CurrentPicture(Bob, true).toImage();

    CDlgCustomizeIcons dialog(Local(), Root(), showPreview, nullptr);
    EXPECT_TRUE(AnswerBoxes([&] { dialog.Update(); })[0].text ==
                "Please select at least one file.");
    const auto picture = MakeBitmap(32, 32, 24, 0x80);
    ASSERT_TRUE(dialog.Choose(0, QString::fromStdString(Write("mine.bmp", picture).string())));
    EXPECT_TRUE(AnswerBoxes([&] { dialog.Update(); }).empty());
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(ReadBytes(BobFile(0)), picture);
    EXPECT_FALSE(fs::exists(BobFile(1)));

    bar.ReloadPictures(Bob);
    EXPECT_NE(bar.CurrentPicture(Bob, true).toImage(), builtin) << "drawn at once";
    ResetPictures(&host.window, Own, Bob);
    bar.ReloadPictures(Bob);
    EXPECT_FALSE(fs::exists(BobFile(0)));
    EXPECT_EQ(bar.CurrentPicture(Bob, true).toImage(), builtin) << "the built-in picture again";
}

TEST_F(PictureWindows, ACopyThatFailsAsksWhetherToGoOnAndNoStops) {
    fs::create_directories(BobFile(0) / "in the way");
    CDlgCustomizeIcons dialog(Local(), Root(), showPreview, nullptr);
    const auto picture = MakeBitmap(32, 32, 8);
    ASSERT_TRUE(dialog.Choose(0, QString::fromStdString(Write("n.bmp", picture).string())));
    ASSERT_TRUE(dialog.Choose(1, QString::fromStdString(Write("a.bmp", picture).string())));
    const auto asked = AnswerBoxes([&] { dialog.Update(); }, QMessageBox::No);
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_TRUE(asked[0].text.startsWith(QString::fromStdString(
        "Failed to copy from " + (Root() / "n.bmp").string() + " to " + BobFile(0).string())));
    EXPECT_TRUE(asked[0].text.endsWith("\n\nContinue whith next file?"));
    EXPECT_FALSE(fs::exists(BobFile(1))) << "No stops before the next file";

    CDlgCustomizeIcons again(Local(), Root(), showPreview, nullptr);
    ASSERT_TRUE(again.Choose(0, QString::fromStdString((Root() / "n.bmp").string())));
    ASSERT_TRUE(again.Choose(1, QString::fromStdString((Root() / "a.bmp").string())));
    EXPECT_EQ(AnswerBoxes([&] { again.Update(); }, QMessageBox::Yes).size(), 1u);
    EXPECT_EQ(ReadBytes(BobFile(1)), picture) << "Yes goes on with the next file";
}

TEST_F(PictureWindows, AnOwnPictureTooLargeForTheTransferIsRefusedBeforeAnythingIsSent) {
    // A usable 32x32 bitmap followed by enough bytes to fill the transfer buffer.
    auto padded = MakeBitmap(32, 32, 24);
    padded.resize(session::PictureBufferSize, 0);
    const fs::path file = Write("padded.bmp", padded);
    CustomizeTarget target;
    target.mode = CustomizeTarget::Mode::Upload;
    target.accountId = Own;
    target.ownerId = Own;
    target.password = "secret";
    target.server = {"127.0.0.1", 1};  // nothing may be sent: no connection is tried
    CDlgCustomizeIcons dialog(target, Root(), showPreview, nullptr);
    ASSERT_TRUE(dialog.Choose(0, QString::fromStdString(file.string())));
    const auto boxes = AnswerBoxes([&] { dialog.Update(); });
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text.toStdString(),
              "Failed to open bitmap of 'Normal' status:\nFile size error. A picture file must be "
              "smaller than 32768 bytes");
    EXPECT_NE(dialog.result(), QDialog::Accepted);
    EXPECT_FALSE(fs::exists(PictureFile(Icons(), Own, 0)));
}

TEST_F(PictureWindows, TheChooserPreviewsEveryDepthAndRemembersShowPreview) {
    CBmpDialog chooser(nullptr, ChooserFilter(0), "bmp", QString::fromStdString(Root().string()),
                       showPreview);
    EXPECT_EQ(chooser.windowTitle(), "Bitmaps (*.bmp)");
    EXPECT_EQ(chooser.nameFilters().constFirst(), "Bitmap Files(*.bmp (32x32x256)) (*.bmp)");
    EXPECT_FALSE(chooser.ShowPreviewBox()->isChecked());
    const fs::path eight = Write("eight.bmp", MakeBitmap(32, 32, 8));
    chooser.Preview(QString::fromStdString(eight.string()));
    chooser.ShowPreviewBox()->setChecked(true);
    EXPECT_TRUE(showPreview) << "kept for the program run";
    EXPECT_EQ(chooser.PreviewLine(2), "Colors: 256") << "ticking previews the selection at once";

    const std::pair<int, const char*> depths[] = {{1, "Colors: 2 (monocromatic)"},
                                                  {4, "Colors: 16"},
                                                  {8, "Colors: 256"},
                                                  {16, "Colors: 65,536"},
                                                  {24, "Colors: 16 millions"}};
    for (const auto& [bits, line] : depths) {
        const fs::path file =
            Write("depth" + std::to_string(bits) + ".bmp", MakeBitmap(64, 40, bits));
        chooser.Preview(QString::fromStdString(file.string()));
        EXPECT_EQ(chooser.PreviewLine(0), "Width: 64 pixels") << bits;
        EXPECT_EQ(chooser.PreviewLine(1), "Height: 40 pixels") << bits;
        EXPECT_EQ(chooser.PreviewLine(2), line) << bits;
        EXPECT_EQ(chooser.PreviewLine(3), QString("Size: %1 Kb").arg(fs::file_size(file) / 1024))
            << bits;
        EXPECT_FALSE(chooser.PreviewImage().isNull()) << bits;
    }
    chooser.Preview(QString::fromStdString(Write("text.bmp", {'x'}).string()));
    EXPECT_TRUE(chooser.PreviewLine(0).isEmpty()) << "not a bitmap: four empty lines";
    EXPECT_TRUE(chooser.PreviewImage().isNull());

    chooser.Preview(QString::fromStdString(eight.string()));
    chooser.ShowPreviewBox()->setChecked(false);
    EXPECT_TRUE(chooser.PreviewLine(2).isEmpty());
    EXPECT_TRUE(chooser.PreviewImage().isNull());
    EXPECT_FALSE(showPreview);

    showPreview = true;
    CBmpDialog again(nullptr, ChooserFilter(1), "bmp", {}, showPreview);
    EXPECT_TRUE(again.ShowPreviewBox()->isChecked());
}

TEST_F(PictureWindows, TheShippedPicturesAre32x32WithAMagentaCorner) {
    const fs::path stock = StockPicturesFolder();
    EXPECT_EQ(stock, Home() / "Icons");
    int count = 0;
    for (const auto& entry : fs::directory_iterator(stock)) {
        ++count;
        ASSERT_FALSE(CheckPictureFile(entry.path())) << entry.path();
        const QImage image(QString::fromStdString(entry.path().string()), "BMP");
        EXPECT_EQ(image.pixelColor(0, 0), QColor(255, 0, 255)) << entry.path();
        const auto header = ReadBitmapHeader(ReadBytes(entry.path()));
        ASSERT_TRUE(header);
        EXPECT_EQ(header->bitsPerPixel, 8);
    }
    EXPECT_GE(count, 24);
}

}  // namespace
}  // namespace talvorine::client::ui::icons
