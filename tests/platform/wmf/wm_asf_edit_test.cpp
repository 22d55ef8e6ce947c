// The WM/Picture layout and the header attributes added after the muxer, checked against
// files mutagen tagged and read back by mutagen and ffmpeg.

#include "wm_asf_edit.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "temp_dir.h"
#include "tools.h"
#include "unique_fd.h"
#include "wm_picture.h"

namespace melvanto::testing {
namespace {

using namespace melvanto::wmf;
using Bytes = std::vector<std::uint8_t>;

Bytes FileBytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

HRESULT AddTo(const std::string& path, const std::vector<TAsfBinaryAttribute>& attributes) {
  UniqueFd fd(::open(path.c_str(), O_RDWR | O_CLOEXEC));
  return fd.Valid() ? AddAsfAttributes(fd.Get(), attributes) : E_FAIL;
}

TEST(WmPicture, OnlyOneWholePictureDecodes) {
  const WM_PICTURE picture{u"image/png", 7, u"D\u00e9sc", {1, 2, 3}};
  const Bytes bytes = EncodeWmPicture(picture);
  // type, length 3, "image/png\0" and "Désc\0" in UTF-16LE, the data.
  ASSERT_EQ(bytes.size(), 1u + 4 + 20 + 10 + 3);
  EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + 5), (Bytes{7, 3, 0, 0, 0}));
  const auto back = DecodeWmPicture(bytes.data(), bytes.size());
  ASSERT_TRUE(back);
  EXPECT_EQ(back->MimeType, picture.MimeType);
  EXPECT_EQ(back->PictureType, 7);
  EXPECT_EQ(back->Description, picture.Description);
  EXPECT_EQ(back->Data, picture.Data);

  // Cut short, a byte too many between the texts and the data, a length past the end, no
  // data, a text without its null: none is a picture.
  EXPECT_FALSE(DecodeWmPicture(bytes.data(), 4));
  EXPECT_FALSE(DecodeWmPicture(bytes.data(), bytes.size() - 1));
  Bytes extra = bytes;
  extra[1] = 2;
  EXPECT_FALSE(DecodeWmPicture(extra.data(), extra.size()));
  extra[1] = 200;
  EXPECT_FALSE(DecodeWmPicture(extra.data(), extra.size()));
  EXPECT_FALSE(DecodeWmPicture(Bytes{3, 0, 0, 0, 0, 0, 0, 0, 0}.data(), 9));
  EXPECT_FALSE(DecodeWmPicture(Bytes{3, 1, 0, 0, 0, 'a', 0, 9}.data(), 8));
  EXPECT_TRUE(EncodeWmPicture({u"image/png", 3, u"", {}}).empty());
  EXPECT_TRUE(EncodeWmPicture({u"image/png", 3, u"", Bytes(kMaxPictureBytes + 1)}).empty());
}

TEST(AsfHeaderEdit, AddsToTheObjectsOtherTaggersMadeAndLeavesOtherFilesAlone) {
  MELVANTO_REQUIRE_COMMAND("ffmpeg");
  MELVANTO_REQUIRE_MUTAGEN();
  TempDir dir;
  const std::string path = (dir / "tagged.wma").string(), plain = (dir / "plain.wma").string();
  // mutagen leaves a content description and a metadata library holding a large picture.
  // With a second argument it tags, else it lists the pictures' types and sizes.
  std::ofstream(dir / "tag.py") << R"(import mutagen.asf, struct, sys
if len(sys.argv) > 2:
    f = mutagen.asf.ASF(sys.argv[1])
    f.tags["WM/Picture"] = [mutagen.asf.ASFByteArrayAttribute(b"\x03" + struct.pack("<I", 70000) +
        "image/jpeg\0\0".encode("utf-16-le") + bytes(70000))]
    f.tags["Description"] = ["Theirs"]
    f.save()
for v in mutagen.asf.ASF(sys.argv[1]).tags.get("WM/Picture", []):
    b = bytes(v.value)
    print(b[0], len(b))
)";
  ASSERT_TRUE(Shell("ffmpeg -v error -f lavfi -i 'sine=f=440:d=2:r=44100' -c:a wmav2 -b:a 64k '" + plain +
                    "' && cp '" + plain + "' '" + path + "' && " + MutagenPython() + " '" + (dir / "tag.py").string() +
                    "' '" + path + "' tag >/dev/null"));
  const Bytes small = EncodeWmPicture({u"image/png", 4, u"s", Bytes(300, 5)});
  const Bytes large = EncodeWmPicture({u"image/png", 5, u"l", Bytes(90000, 6)});
  ASSERT_EQ(AddTo(path, {{g_wszWMPicture, small}, {g_wszWMPicture, large}}), S_OK);

  const std::string listed = CaptureText(MutagenPython() + " '" + (dir / "tag.py").string() + "' '" + path + "'");
  EXPECT_NE(listed.find("3 70029\n"), std::string::npos) << "theirs kept\n" << listed;
  EXPECT_NE(listed.find("4 " + std::to_string(small.size()) + "\n"), std::string::npos) << listed;
  EXPECT_NE(listed.find("5 " + std::to_string(large.size()) + "\n"), std::string::npos) << listed;
  const std::string decode = "ffmpeg -nostdin -v error -i '";
  const auto before = Capture(decode + plain + "' -f s16le - 2>/dev/null");
  const auto after = Capture(decode + path + "' -f s16le - 2>/dev/null");
  ASSERT_TRUE(before && after);
  EXPECT_EQ(*after, *before);

  // Not an ASF header, or nothing to add: the file stays as it was.
  const std::string other = (dir / "other.bin").string();
  std::ofstream(other, std::ios::binary) << std::string(5000, 'x');
  EXPECT_EQ(AddTo(other, {{g_wszWMPicture, small}}), S_FALSE);
  EXPECT_EQ(FileBytes(other), Bytes(5000, 'x'));
  const Bytes was = FileBytes(path);
  EXPECT_EQ(AddTo(path, {{g_wszWMPicture, {}}}), S_FALSE);
  EXPECT_EQ(FileBytes(path), was);
}

}  // namespace
}  // namespace melvanto::testing
