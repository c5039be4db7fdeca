// qrtool: the table of commands.
#include "cli.h"
#include "commands.h"

namespace qrtool {

const std::vector<Command>& commands() {
    static const std::vector<Command> s_commands = {
        {"line", "line names <-> line-number codes", "line encode|decode|split [VALUE...]\n"
         "  encode NAME...  the line-number code of each line name (AL0123 -> 1103806595195)\n"
         "  decode CODE...  the line name of each code\n"
         "  split VALUE...  number, type and area of each name or code\n"
         "Without values, one value per line is read from standard input.", &runLine},
        {"flight", "flight names <-> flight-number codes", "flight encode|decode [VALUE...]\n"
         "  encode NAME...  the flight-number code of each flight name\n"
         "  decode CODE...  the flight name of each code\n"
         "Without values, one value per line is read from standard input.", &runFlight},
        {"insert", "insert zero bytes into a file in place", "insert FILE POS SIZE\n"
         "Inserts SIZE zero bytes before the byte at POS; the file grows by SIZE. POS must lie\n"
         "inside the file.", &runInsert},
        {"remove", "remove a range of a file in place", "remove FILE POS SIZE\n"
         "Removes the SIZE bytes that start at POS; the file shrinks by SIZE. The range must end\n"
         "before the end of the file.", &runRemove},
        {"move", "move a block inside a file", "move FILE SRC DST LENGTH\n"
         "Copies LENGTH bytes from SRC to DST as if through a buffer (ranges may overlap).", &runMove},
        {"zero", "overwrite a range of a file with zeros", "zero FILE POS SIZE\n"
         "Writes SIZE zero bytes from POS on (the file grows if the range runs past its end).", &runZero},
        {"recover", "finish an interrupted insert, remove or move", "recover FILE\n"
         "Finishes an edit of FILE that was interrupted (the process killed, the machine down), so\n"
         "that the file is exactly as after it, and removes its journal. Opening the file with\n"
         "any command does the same; this one says whether there was anything to finish.",
         &runRecover},
        {"view", "hex and text dump of a range, through a mapped view", "view FILE OFFSET SIZE\n"
         "Dumps SIZE bytes from OFFSET (cut at the end of the file).", &runView},
        {"columns", "column layouts of a blank-separated text file", "columns FILE\n"
         "Lists each distinct layout of column widths, how many records have it and the line\n"
         "numbers where runs of it start (at most 16 listed). Blank lines, comment lines\n"
         "(starting with / or #) and survey-line headers (LINE name, TIE name) are skipped.", &runColumns},
        {"scan", "survey lines of an XYZ file", "scan FILE\n"
         "One row per survey line of an XYZ file (header lines such as 'LINE AL0123' or\n"
         "'TIE T100', comment lines starting with / or #, blank-separated records): name,\n"
         "line-number code, whether it decodes, type, area, record count, the line number of its\n"
         "header, the column widths of its first record, and how many runs of different column\n"
         "layouts its records form (1: all alike).", &runScan},
        {"angle", "angle and time conversions", "angle CONVERSION [VALUE...]\n"
         "CONVERSION is one of the library's conversions, such as DMSToDegree, DegreeToDMS,\n"
         "SecondToHMS or DegreeToRadian ('qrtool angle list' shows them all). Without values,\n"
         "one value per line is read from standard input.", &runAngle},
        {"ebcdic2ascii", "EBCDIC to ASCII", "ebcdic2ascii [IN [OUT]]\n"
         "Converts a stream of any size; '-' or no name is standard input/output.", &runEbcdicToAscii},
        {"ascii2ebcdic", "ASCII to EBCDIC", "ascii2ebcdic [IN [OUT]]\n"
         "Converts a stream of any size; '-' or no name is standard input/output.", &runAsciiToEbcdic},
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
