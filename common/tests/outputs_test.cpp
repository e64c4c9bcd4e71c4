// Where the programs' outputs go, tried for real: standard output closed
// on a file system that loses writes at close, --icc under -o's rules,
// /dev/stdout and friends as the open descriptor, symbolic links in sticky
// folders, and files and folders of other users. Rows marked `as_nobody`
// run the command as the unprivileged user 65534 (with setpriv), rows
// marked `lossy` write to a FUSE file system whose every flush fails.
//
// Each case runs in a folder of its own holding in.jpg (no profile),
// icc.jpg (with profile.icc embedded), their images in.ref and icc.ref,
// tune.mel, tune.tones and ring.txt; `setup` runs there as root first,
// `check` after the command must exit 0.
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "case_name.h"
#include "jpeg_fixtures.h"
#include "program_test.h"
#include "test_fs_mount.h"

namespace {

namespace fs = std::filesystem;

struct output_case {
  const char *what;
  const char *setup;
  const char *command;
  int status;
  const char *message;  // the whole of standard error
  const char *check;
  bool as_nobody = false;
  bool lossy = false;
};

void PrintTo(const output_case &c, std::ostream *os) { *os << c.what; }

const char nobody[] = "setpriv --reuid=65534 --regid=65534 --clear-groups ";

class outputs : public program_test, public testing::WithParamInterface<output_case> {
 protected:
  void SetUp() override {
    program_test::SetUp();
    fs::permissions(dir_, fs::perms(0755));
    image_recipe plain;
    plain.width = 21;
    plain.height = 13;
    image_recipe with_profile = plain;
    for (int i = 0; i < 3000; ++i) with_profile.icc_profile.push_back(static_cast<unsigned char>(i * 7));
    write_file(dir_ / "in.jpg", encode_jpeg(plain));
    write_file(dir_ / "icc.jpg", encode_jpeg(with_profile));
    write_file(dir_ / "profile.icc", with_profile.icc_profile);
    std::ofstream(dir_ / "tune.mel") << "2\nA1 C#2.5 P\n";
    std::ofstream(dir_ / "ring.txt") << "t:d=4,o=5,b=120:c,e,g\n";
    ASSERT_EQ(shell("cd '" + dir_.string() + "' && " + JPEG2PNM_PATH + " in.jpg > in.ref && " + JPEG2PNM_PATH +
                    " icc.jpg > icc.ref && " + MELODYC_PATH + " < tune.mel > tune.tones"),
              0);
  }

  // Runs `script` in `folder` through sh, as root or as nobody; the exit
  // status, with standard error in err_.
  int run_in(const fs::path &folder, const std::string &script, bool as_nobody) {
    std::ofstream(folder / ".script") << "J=" << JPEG2PNM_PATH << " T=" << TONETOOL_PATH << " M=" << MELODYC_PATH
                                      << "\numask 022\n"
                                      << script << "\n";
    const std::string err = (dir_ / "err").string();
    const int status = shell("cd '" + folder.string() + "' && " + (as_nobody ? nobody : "") + "sh .script 2>'" +
                             err + "'");
    err_ = slurp(err);
    return status;
  }

  std::string err_;
};

TEST_P(outputs, go_where_the_shell_would_send_them) {
  const output_case &c = GetParam();
  if (c.as_nobody && geteuid() != 0) GTEST_SKIP() << "needs root to run as another user";
  test_fs_mount lossy(dir_ / "lossy", c.lossy ? "--fail-flush" : "");
  if (c.lossy && !lossy.skip_reason.empty()) GTEST_SKIP() << lossy.skip_reason;
  const fs::path here = dir_ / "case";
  fs::create_directory(here);
  for (const char *f : {"in.jpg", "icc.jpg", "profile.icc", "in.ref", "icc.ref", "tune.mel", "tune.tones",
                        "ring.txt"}) {
    fs::copy_file(dir_ / f, here / f);
  }
  if (c.as_nobody && run_in(here, std::string(nobody) + " test -x $J -a -x $T", false) != 0) {
    GTEST_SKIP() << "user 65534 cannot run the built programs from here";
  }
  ASSERT_EQ(run_in(here, c.setup, false), 0) << err_;
  EXPECT_EQ(run_in(here, c.command, c.as_nobody), c.status) << err_;
  EXPECT_EQ(err_, c.message);
  EXPECT_EQ(run_in(here, c.check, false), 0) << c.check << "\n" << err_;
}

// Every output file the program leaves in the case folder, beside the
// inputs and the script: `ls` of what is new.
#define ONLY(files) "test \"$(ls -A | grep -vxE 'in.jpg|icc.jpg|profile.icc|in.ref|icc.ref|tune.mel|tune.tones|ring.txt|.script|lossy')\" = \"" files "\""

const output_case output_cases[] = {
    // Standard output is closed and checked by every program.
    {"jpeg2pnm_close_error", "", "$J in.jpg > ../lossy/out", 1,
     "jpeg2pnm: (standard output): write error: Input/output error\n", "true", false, true},
    {"list_close_error", "", "$T list tune.tones > ../lossy/out", 1,
     "tonetool: (standard output): write error: Input/output error\n", "true", false, true},
    {"wav_close_error", "", "$T wav tune.tones > ../lossy/out", 1,
     "tonetool: (standard output): write error: Input/output error\n", "true", false, true},
    {"midi_close_error", "", "$T midi tune.tones > ../lossy/out", 1,
     "tonetool: (standard output): write error: Input/output error\n", "true", false, true},
    {"c_close_error", "", "$T c tune.tones > ../lossy/out", 1,
     "tonetool: (standard output): write error: Input/output error\n", "true", false, true},
    {"rtttl_close_error", "", "$T rtttl ring.txt > ../lossy/out 2>/dev/null; echo $? >&2", 0, "1\n", "true", false,
     true},
    {"melodyc_close_error", "", "$M < tune.mel > ../lossy/out", 1, "Error writing to output file\n", "true", false,
     true},
    {"tonetool_help_full", "", "$T --help > /dev/full", 1,
     "tonetool: (standard output): write error: No space left on device\n", "true"},
    {"list_help_full", "", "$T list --help > /dev/full", 1,
     "tonetool: (standard output): write error: No space left on device\n", "true"},
    {"jpeg2pnm_version_full", "", "$J --version > /dev/full", 1,
     "jpeg2pnm: (standard output): write error: No space left on device\n", "true"},
    {"image_to_full_names_the_output", "", "$J in.jpg > /dev/full", 1,
     "jpeg2pnm: in.jpg: (standard output): write error: No space left on device\n", "true"},

    // --icc is an output like -o.
    {"icc_onto_the_input", "cp icc.jpg victim.jpg", "$J --icc victim.jpg -o v.ppm victim.jpg", 1,
     "jpeg2pnm: victim.jpg: the ICC profile would go to victim.jpg, this input file itself; choose another --icc "
     "file\n",
     "cmp -s victim.jpg icc.jpg && " ONLY("victim.jpg")},
    {"icc_same_name_as_o", "", "$J --icc same.ppm -o same.ppm icc.jpg", 2,
     "jpeg2pnm: --icc and -o name the same file; give the profile a file of its own\n"
     "Try 'jpeg2pnm --help' for more information.\n",
     ONLY("")},
    {"icc_link_to_the_image_output", "echo old > same.ppm && ln -s same.ppm alias", "$J --icc alias -o same.ppm icc.jpg",
     1,
     "jpeg2pnm: icc.jpg: the ICC profile would go to alias, the image's own output; choose another --icc file\n",
     "test \"$(cat same.ppm)\" = old"},
    {"icc_and_image_both_new_by_a_link", "ln -s new.ppm alias", "$J --icc alias -o new.ppm icc.jpg", 1,
     "jpeg2pnm: icc.jpg: the ICC profile would go to alias, the image's own output; choose another --icc file\n",
     ONLY("alias")},
    {"icc_folder_leaves_no_image", "mkdir d", "$J --icc d -o out.ppm icc.jpg", 1,
     "jpeg2pnm: icc.jpg: d: is a directory\n", ONLY("d")},
    {"icc_on_lossy_leaves_no_image", "", "$J --icc ../lossy/p.icc -o out.ppm icc.jpg", 1,
     "jpeg2pnm: icc.jpg: ../lossy/p.icc: write error: Input/output error\n",
     ONLY("") " && test -z \"$(ls -A ../lossy)\"", false, true},
    {"icc_to_stdout", "", "$J --icc - -o out.ppm icc.jpg > p", 0, "",
     "cmp -s p profile.icc && cmp -s out.ppm icc.ref"},
    {"icc_and_image_both_to_stdout", "", "$J --icc - icc.jpg > x", 2,
     "jpeg2pnm: --icc - and the image would both go to standard output; give -o FILE or --icc FILE\n"
     "Try 'jpeg2pnm --help' for more information.\n",
     "test ! -s x"},
    {"icc_stdout_and_image_dev_stdout", "", "$J --icc - -o /dev/stdout icc.jpg > x", 1,
     "jpeg2pnm: icc.jpg: the ICC profile would go to the image's own output, standard output; give --icc a file\n",
     "test ! -s x"},
    {"icc_file_is_the_stdout_file", "", "$J --icc x icc.jpg > x", 1,
     "jpeg2pnm: icc.jpg: the ICC profile would go to x, the image's own output; choose another --icc file\n",
     "true"},

    // /dev/stdout and friends are the open descriptor as it stands.
    {"dev_stdout_appends", "echo log > log", "$J -o /dev/stdout in.jpg >> log", 0, "",
     "(echo log; cat in.ref) | cmp -s - log"},
    {"dev_stdout_into_a_pipe", "", "$J -o /dev/stdout in.jpg | cat > piped", 0, "", "cmp -s piped in.ref"},
    {"proc_self_fd_into_a_pipe", "", "$J -o /proc/self/fd/1 in.jpg | cat > piped", 0, "", "cmp -s piped in.ref"},
    {"dev_fd_3_appends", "echo log > log", "$T c -o /dev/fd/3 tune.tones 3>> log", 0, "",
     "head -1 log | grep -qx log && grep -q 'tune_records' log"},
    {"dev_fd_not_open", "", "$J -o /dev/fd/9 in.jpg", 1,
     "jpeg2pnm: in.jpg: /dev/fd/9: cannot open for writing: descriptor 9 is not open\n", ONLY("")},

    // Links in a sticky world-writable folder: only the follower's and the
    // folder owner's are followed, whatever fs.protected_symlinks says.
    {"root_refuses_a_planted_link", "mkdir -m 1777 t && echo secret > victim && setpriv --reuid=65534 ln -s ../victim t/x.ppm",
     "$J -o t/x.ppm in.jpg", 1,
     "jpeg2pnm: in.jpg: t/x.ppm: not following the symbolic link x.ppm, another user's in a sticky world-writable "
     "folder; remove it or choose another output\n",
     "test \"$(cat victim)\" = secret && test -L t/x.ppm"},
    {"planted_link_to_a_folder", "mkdir -m 1777 t && mkdir secret && setpriv --reuid=65534 ln -s ../secret t/d",
     "$J -o t/d/x.ppm in.jpg", 1,
     "jpeg2pnm: in.jpg: t/d/x.ppm: not following the symbolic link d, another user's in a sticky world-writable "
     "folder; remove it or choose another output\n",
     "test -z \"$(ls -A secret)\""},
    {"own_link_is_followed", "mkdir -m 1777 t && mkdir -m 777 mine && setpriv --reuid=65534 ln -s ../mine/x.ppm t/x.ppm",
     "$J -o t/x.ppm in.jpg", 0, "", "cmp -s mine/x.ppm in.ref && test -L t/x.ppm", true},
    {"folder_owners_link_is_followed", "mkdir -m 1777 t && mkdir -m 777 mine && ln -s ../mine/x.ppm t/x.ppm",
     "$J -o t/x.ppm in.jpg", 0, "", "cmp -s mine/x.ppm in.ref", true},

    // -o goes where > goes, and nowhere else.
    {"read_only_file_refused", "chmod 777 . && echo old > ro.ppm && chmod 444 ro.ppm && chown 65534 ro.ppm",
     "$J -o ro.ppm in.jpg", 1, "jpeg2pnm: in.jpg: ro.ppm: cannot open for writing: Permission denied\n",
     "test \"$(cat ro.ppm)\" = old", true},
    {"read_only_file_refused_by_tonetool", "chmod 777 . && echo old > ro.c && chmod 444 ro.c",
     "$T c -o ro.c tune.tones", 1, "tonetool: ro.c: cannot open for writing: Permission denied\n",
     "test \"$(cat ro.c)\" = old", true},
    {"writable_file_in_a_closed_folder", "echo old > open.ppm && chmod 666 open.ppm && ls -i open.ppm > inode",
     "$J -o open.ppm in.jpg", 0, "", "cmp -s open.ppm in.ref && ls -i open.ppm | cmp -s - inode", true},
    {"roots_file_in_a_sticky_folder", "mkdir -m 1777 t && echo old > t/r.ppm && chmod 666 t/r.ppm",
     "$J -o t/r.ppm in.jpg", 0, "",
     "cmp -s t/r.ppm in.ref && test \"$(stat -c %u t/r.ppm)\" = 0 && test -z \"$(ls -A t | grep -v r.ppm)\"", true},
    {"new_file_in_a_closed_folder", "", "$J -o new.ppm in.jpg", 1,
     "jpeg2pnm: in.jpg: new.ppm: cannot create: Permission denied\n", ONLY(""), true},
    {"closed_folder_refused_before_decoding", "head -c $(( $(stat -c %s in.jpg) - 40 )) in.jpg > cut.jpg", "$J -o new.ppm cut.jpg", 1,
     "jpeg2pnm: cut.jpg: new.ppm: cannot create: Permission denied\n", "true", true},
};

INSTANTIATE_TEST_SUITE_P(all, outputs, testing::ValuesIn(output_cases), readable_name<output_case>);

}  // namespace
