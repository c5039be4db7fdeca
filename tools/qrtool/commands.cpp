// qrtool: the table of commands.
#include "cli.h"
#include "commands.h"

namespace qrtool {

// How a conversion treats its OUT.
#define QRTOOL_OUTPUT_RULE                                                                                  \
    "An existing OUT\n"                                                                              \
    "is replaced only with --yes or when the user agrees at a terminal, and never when it is the\n" \
    "input itself. OUT is written under a temporary name in its folder and takes its place only\n"   \
    "when the whole conversion succeeded."

// How columns and scan read a text file.
#define QRTOOL_TEXT_RULES                                                                             \
    "Fields are separated by blanks and tabs (the tool reads a tab as a blank before it analyses\n"  \
    "a record; the library's own record rule counts blanks only), or by a comma or semicolon\n"     \
    "that every one of the first lines has equally often (--delimiter , ; | or blank sets it;\n"  \
    "with ';', a decimal comma reads as a decimal point).\n"                                        \
    "Lines may end in LF, CR LF or CR alone. An ASEG-GDF2 definition (FILE.dfn beside FILE.dat, or\n" \
    "--dfn DEFN) gives the channels, fixed field widths (I10, F12.2, A4, arrays 30F10.3 shown as\n" \
    "NAME[1..30]), units and NULL= values; records of another width are reported. Several FILEs\n" \
    "are listed one after the other, each headed by its name (JSON: an array of one object per\n"    \
    "file). A file that looks binary (zero bytes, or mostly bytes that are not text, at its start)\n" \
    "is refused. Long scans show their progress when standard error is a terminal."

const std::vector<Command>& commands() {
    static const std::vector<Command> s_commands = {
        {"line", "line names <-> line-number codes", "line encode|decode|split [VALUE...]\n"
         "  encode NAME...  the line-number code of each line name (AL0123 -> 1103806595195)\n"
         "  decode CODE...  the line name of each code (1103806595195 -> AL0123)\n"
         "  split VALUE...  number, type and area of each name or code\n"
         "Without values, one value per line is read from standard input.\n"
         "\n"
         "A line name is an optional area, a type letter and a number, with nothing between them:\n"
         "  area    none, one letter A..Z, or two letters AA..DW (area codes 1 to 127)\n"
         "  type    one of L B T R S P D (for example L for a survey line, T for a tie line)\n"
         "  number  0 to 2147483647; a name may also be a bare number (no type, no area)\n"
         "  or one of the keywords RESET (-1), NEXTIND (0) and DUMMY (-32767), in capitals.\n"
         "Blanks anywhere are ignored and letters may be of either case (al 123 = AL123). Only the\n"
         "leading digits of the number count: what follows them is ignored, so L1010.2 codes as\n"
         "L1010 and L12A34 as L12 ('scan' marks such names as not valid).\n"
         "decode and split write names as the codec does, always the same way: the number with at\n"
         "least four digits, zero-padded (L12 -> L0012, 17430 -> 17430, L123456 -> L123456).",
         &runLine},
        {"flight", "flight names <-> flight-number codes", "flight encode|decode [VALUE...]\n"
         "  encode NAME...  the flight-number code of each flight name (AAS5 -> 453115909)\n"
         "  decode CODE...  the flight name of each code\n"
         "Without values, one value per line is read from standard input.\n"
         "\n"
         "A flight name is an optional area (as for lines), a type letter N S C T or I, and a\n"
         "number 0 to 65535; or RESET, NEXTIND or DUMMY. Blanks are ignored, letters may be of\n"
         "either case. decode writes the number with at least two digits (AAS5 -> AAS05).",
         &runFlight},
        {"insert", "insert zero bytes into a file in place", "insert FILE POS|END SIZE\n"
         "Inserts SIZE zero bytes before the byte at POS; the file grows by SIZE. POS END (or the\n"
         "file's size) appends SIZE zero bytes; a POS past the end is refused.", &runInsert},
        {"remove", "remove a range of a file in place", "remove FILE POS SIZE\n"
         "Removes the SIZE bytes that start at POS; the file shrinks by SIZE. A range that ends at\n"
         "the end of the file cuts the file at POS; a range past the end is refused.", &runRemove},
        {"move", "move a block inside a file", "move FILE SRC DST LENGTH\n"
         "Copies LENGTH bytes from SRC to DST as if through a buffer (ranges may overlap).", &runMove},
        {"zero", "overwrite a range of a file with zeros", "zero FILE POS SIZE\n"
         "Writes SIZE zero bytes from POS on (the file grows if the range runs past its end).", &runZero},
        {"recover", "finish an interrupted insert, remove or move", "recover FILE\n"
         "Finishes an edit of FILE that was interrupted (the process killed, the machine down), so\n"
         "that the file is exactly as after it, and removes its journal. Opening the file with\n"
         "any command does the same; this one says whether there was anything to finish.",
         &runRecover},
        {"view", "hex and text dump of a range, through a mapped view", "view [--ebcdic] FILE OFFSET SIZE\n"
         "Dumps SIZE bytes from OFFSET (cut at the end of the file). OFFSET and SIZE may be\n"
         "hexadecimal (0x0C80) or take the suffixes K, M, G, T. --ebcdic shows the text column\n"
         "through the EBCDIC table (tape headers, SEG-Y textual headers).", &runView},
        {"columns", "column layouts of a survey text file", "columns [OPTIONS] FILE...\n"
         "Lists each distinct layout of column widths, how many records have it and the line\n"
         "numbers where runs of it start (at most 16 listed). Blank lines, comment lines\n"
         "(starting with / or #) and survey-line headers are skipped; the options are scan's.\n"
         QRTOOL_TEXT_RULES, &runColumns},
        {"scan", "survey lines of an XYZ, CSV or ASEG-GDF file", "scan [--stats] [OPTIONS] FILE...\n"
         "One row per survey line: name, line-number code, whether the name is valid, type, area,\n"
         "flight, flight-number code, record count, the line number of its header (or first\n"
         "record), the column widths of its first record, how many runs of different column\n"
         "layouts its records form (1: all alike), the null values per channel, and a note.\n"
         "  Headers: a line-type word or abbreviation and a name, any case: LINE LI LN, TIE TL TI,\n"
         "    BASE BL, TREND TR, TEST TS, SPECIAL SP, RANDOM RL RN (the codec's types L T B R S P D).\n"
         "    A bare number names a line of that type: 'Line 17430' is L17430, 'TL 3' is T3. A\n"
         "    version after the number ('Line 10030.2') is kept in the name; the code has none. A\n"
         "    name that does not come back from its code as the same text (L12A34 codes as L12) is\n"
         "    not valid, and the note says why; lines that code to one number are noted, never\n"
         "    merged. A line that starts with a word but is no header ('Flight 3' without '/',\n"
         "    'Lines 10') is reported as not understood, never counted as a record.\n"
         "  Line columns: --line-column NAME|N (and --flight-column NAME|N) split lines where the\n"
         "    column's value changes; without headers, a channel named LINE, LINE_NO, LINENO,\n"
         "    LINENUMBER or FLTLINE (FLIGHT, FLIGHT_NO, FLT for flights), any case, is used.\n"
         "  Flights: a comment '//Flight 172' (or '/ FLIGHT AN01', any case) holds for the lines\n"
         "    after it (and for the line it follows directly, before that line's records).\n"
         "  Channels: the last '/' comment before the first record that has as many words as the\n"
         "    records have columns (a rule of '=' or '-' never), a names line such as a CSV header,\n"
         "    or the definition.\n"
         "  Nulls: a field '*' is a null value, and so is a value equal (as a number) to one given\n"
         "    with --null VALUE or --null CHANNEL=VALUE (repeatable), to a Workbench '/DUMMY' value\n"
         "    (on the comment line after it), or to the definition's NULL=.\n"
         "  --stats adds each line's range (minimum..maximum) of every numeric channel.\n"
         QRTOOL_TEXT_RULES, &runScan},
        {"segy", "the headers and trace count of a SEG-Y file", "segy FILE\n"
         "Shows the 3200-byte textual header as 40 lines of 80 columns (EBCDIC is detected and\n"
         "converted through the library's table; an ASCII header is shown as it is), the extended\n"
         "textual headers the binary header announces, and the binary header's main fields (job,\n"
         "line and reel numbers, traces per ensemble, sample interval, samples per trace, data\n"
         "sample format, measurement system, revision, fixed-length flag, extended header count)\n"
         "in the file's byte order (big-endian; little-endian files are detected). The number of\n"
         "traces follows from the file size; a size that is not a whole number of traces is\n"
         "reported. --json gives all of it as one object.", &runSegy},
        {"angle", "angle and time conversions", "angle CONVERSION [VALUE...]\n"
         "CONVERSION is one of the library's conversions, such as DMSToDegree, DegreeToDMS,\n"
         "SecondToHMS or DegreeToRadian ('qrtool angle list' shows them all). Without values,\n"
         "one value per line is read from standard input.", &runAngle},
        {"ebcdic2ascii", "EBCDIC to ASCII", "ebcdic2ascii [IN [OUT]]\n"
         "Converts a stream of any size; '-' or no name is standard input/output. " QRTOOL_OUTPUT_RULE, &runEbcdicToAscii},
        {"ascii2ebcdic", "ASCII to EBCDIC", "ascii2ebcdic [IN [OUT]]\n"
         "Converts a stream of any size; '-' or no name is standard input/output. " QRTOOL_OUTPUT_RULE, &runAsciiToEbcdic},
        {"bcd", "packed decimal bytes to a number", "bcd HEX...\n"
         "Reads packed BCD given as hexadecimal bytes, least significant byte first: 3412 -> 1234.",
         &runBcd},
        {"sample", "write a small sample survey data set", "sample DIR\n"
         "Writes DIR/survey.xyz (XYZ text, several lines and flights), DIR/records.bin (fixed-size\n"
         "binary records) and DIR/header.ebc (an EBCDIC text header).", &runSample},
    };
    return s_commands;
}

}  // namespace qrtool
