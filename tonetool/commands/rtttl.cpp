// tonetool rtttl: an RTTTL ringtone, or a collection of them, as melody texts.
#include "commands.h"

#include <cstdint>
#include <string>

#include "command_io.h"
#include "command_options.h"
#include "diagnostics.h"
#include "importers/ringtone_collection.h"
#include "importers/rtttl.h"
#include "message_text.h"
#include "output_file.h"

namespace {

// The longest ringtone read: far beyond any real one.
constexpr std::size_t longest_ringtone = 1 << 20;
constexpr std::size_t shown_messages = 20;

// Shows a conversion's messages, their lines counted from `first_line`
// of the file; the first ones, then a count.
void show_messages(const std::string &name, const rtttl_conversion &result, std::int64_t first_line) {
  for (std::size_t i = 0; i < result.messages.size() && i < shown_messages; ++i) {
    const rtttl_message &m = result.messages[i];
    report_finding(name, m.line + first_line - 1, m.column, m.error, m.text);
  }
  const auto messages = static_cast<std::size_t>(result.errors + result.warnings);
  if (messages > shown_messages) {
    report(name, std::to_string(messages - shown_messages) + " more messages not shown; fix the first ones and run again");
  }
}

// "3: Ode, 15 notes, 7.5 s at b=120", or where the ringtone is damaged.
std::string listing_line(std::size_t index, const ringtone_entry &entry, const rtttl_conversion &r) {
  std::string line = std::to_string(index + 1) + ": " + (r.name.empty() ? "(no name)" : quoted_value(r.name)) + ", ";
  if (r.errors > 0) return line + "damaged (line " + std::to_string(entry.first_line) + ")";
  return line + std::to_string(r.notes) + (r.notes == 1 ? " note, " : " notes, ") + with_decimals(r.seconds, 1) + " s at b=" +
         std::to_string(r.beats);
}

}  // namespace

int run_rtttl(int argc, char **argv) {
  rtttl_options settings;
  std::string output, directory, wanted_name;
  bool list = false;
  int index = 0;
  const command_form form{
      .program = program_name,
      .command = "rtttl",
      .synopsis = "[--strict] [--unit-ms MS] [--transpose N] [--list | --index N | --name NAME | -d DIR] [-o OUT] [FILE]",
      .about = "Turn an RTTTL ringtone (NAME:d=4,o=6,b=63:16e6,8p,4c#.7,...; from FILE, or\n"
               "standard input) into a melody text for melodyc: a comment with its name,\n"
               "the tempo, then one note token per ringtone note. Ringtone octave 4 holds\n"
               "A = 440 Hz, melodyc's A1; '_' is read as a sharp. Notes that melodyc\n"
               "cannot play move by whole octaves, the whole tune together, when one\n"
               "shift fits them all; else the shift that fits the most, and the notes\n"
               "still outside move by octaves into range (--strict refuses). The tempo\n"
               "stays, or changes (by 10%, or up to 30% where it must) to hold the tune's\n"
               "grid in whole units; each note starts on the unit nearest its start, and\n"
               "one too short for a unit joins its neighbours. The nearest tune is\n"
               "written; a last line tells the tempo, the largest rhythm error and a\n"
               "--unit-ms that keeps every note (--strict refuses the tune instead).\n"
               "A collection, one ringtone a line, is listed, or one of it converted,\n"
               "or each into a folder.\n",
      .epilogue = "Exit status: 0 converted; 1 a malformed ringtone (with -d: any), a tune\n"
                  "(with --strict) that the range or the unit cannot keep, a collection\n"
                  "without --list, --index, --name or -d, or an unreadable input (nothing\n"
                  "is written for it); 2 bad command line.\n",
      .options = {output_option(output, "the melody file, written whole or not at all\n(default: standard output)"),
       unit_option(settings.unit_ms, "; play the melody at the\nsame unit"),
       transpose_option(settings.transpose_given, settings.transpose),
       flag_option("strict", "refuse a tune whose rhythm the unit cannot keep, or\nthat no octave shift fits, instead of rounding\nor folding notes",
                   settings.strict),
       flag_option("list", "list the ringtones of the file: index, name, notes,\nlength and tempo; write nothing", list),
       whole_option("index", 0, "N", "convert the Nth ringtone of a collection (1 for the\nfirst)", {1, 1000000, "index"},
                    index),
       value_option("name", 0, "NAME", "convert the ringtone of that name",
                    take_name("--name", "ringtone", wanted_name)),
       value_option("directory", 'd', "DIR", "convert every ringtone into DIR/NAME.mel (a name that\nis empty, repeated or unsafe "
                                 "gets its index)",
                    take_name("-d", "folder", directory)),
       approximate_option()}};
  command_input in;
  int status = status_ok;
  if (!start_command(form, argc, argv, output, in, status, [&] {
        const int chosen = (list ? 1 : 0) + (index > 0 ? 1 : 0) + (!wanted_name.empty() ? 1 : 0) + (!directory.empty() ? 1 : 0);
        if (chosen > 1) return std::string("--list, --index, --name and -d cannot be used together");
        if (!directory.empty() && !output.empty()) return std::string("-o and -d cannot be used together");
        return std::string();
      })) {
    return status;
  }
  std::string text;
  if (!read_text(in, longest_ringtone, text)) return status_failed;
  const std::string name = input_label(in);
  const std::vector<ringtone_entry> entries = split_ringtones(text);
  const auto convert = [&](const ringtone_entry &e) {
    return convert_rtttl(std::string_view(text).substr(e.begin, e.end - e.begin), settings);
  };
  if (list) {
    std::string listing;
    for (std::size_t i = 0; i < entries.size(); ++i) listing += listing_line(i, entries[i], convert(entries[i])) + "\n";
    return write_whole_output("-", listing) ? status_ok : status_failed;
  }
  if (!directory.empty()) {
    std::vector<rtttl_conversion> results;
    std::vector<std::string> names;
    for (const ringtone_entry &e : entries) {
      results.push_back(convert(e));
      names.push_back(results.back().name);
    }
    const std::vector<std::string> files = ringtone_file_names(names);
    if (!make_output_folder(directory)) return status_failed;
    // A damaged ringtone's errors are shown and it is skipped; warnings
    // are counted, each tune's own with --index.
    std::size_t written = 0, warned = 0, failed = 0;
    for (std::size_t i = 0; i < entries.size(); ++i) {
      rtttl_conversion &r = results[i];
      if (r.errors > 0) {
        r.messages.erase(std::remove_if(r.messages.begin(), r.messages.end(), [](const rtttl_message &m) { return !m.error; }),
                         r.messages.end());
        r.warnings = 0;
        show_messages(name, r, entries[i].first_line);
      }
      const bool ok = r.errors == 0 &&
                      write_whole_output(directory + (directory.back() == '/' ? "" : "/") + files[i], r.melody);
      ++(ok ? written : failed);
      warned += ok && r.warnings > 0;
    }
    report_note(name, std::to_string(written) + " written" +
                          (warned > 0 ? " (" + std::to_string(warned) + " with warnings, which --index N shows)" : "") +
                          (failed > 0 ? ", " + std::to_string(failed) + " failed" : ""));
    return failed > 0 ? status_failed : status_ok;
  }
  std::size_t chosen = 0;
  if (index > 0) {
    if (static_cast<std::size_t>(index) > entries.size()) {
      report(name, "--index " + std::to_string(index) + ": the file holds " + std::to_string(entries.size()) +
                       (entries.size() == 1 ? " ringtone" : " ringtones") + "; --list shows them");
      return status_failed;
    }
    chosen = static_cast<std::size_t>(index - 1);
  } else if (!wanted_name.empty()) {
    chosen = entries.size();
    for (std::size_t i = 0; i < entries.size() && chosen == entries.size(); ++i) {
      if (convert(entries[i]).name == wanted_name) chosen = i;
    }
    if (chosen == entries.size()) {
      report(name, "no ringtone is named " + quoted_value(wanted_name) + "; --list shows their names");
      return status_failed;
    }
  } else if (entries.size() > 1) {
    report(name, "the file holds " + std::to_string(entries.size()) +
                     " ringtones: --list shows them, --index N or --name NAME converts one, -d DIR converts each");
    return status_failed;
  }
  const rtttl_conversion result = convert(entries[chosen]);
  show_messages(name, result, entries[chosen].first_line);
  if (result.errors > 0) return status_failed;
  if (!write_whole_output(output, result.melody)) return status_failed;
  if (!result.summary.empty()) report_note(name, result.summary);
  return status_ok;
}
