// Instrument parameter files of the GSAS family (INS records, key:value
// lines) for the instrument-file reader; instrument_gsas.cpp says what is read.
#ifndef POWDERKIT_PHASE_INSTRUMENT_GSAS_HPP
#define POWDERKIT_PHASE_INSTRUMENT_GSAS_HPP

#include <string>
#include <string_view>

#include "powderkit_phase.h"

namespace powderkit::phase {

// True when the text is not JSON (its first character that is not blank
// opens no object or list), and so is read as a GSAS-family file.
bool looksLikeGsasInstrument(std::string_view text);

// Reads bank `bank` (the file's label, 0: the first) into the records and
// `difB` (µs·Å, the calibration's 1/d term the instrument record does not
// hold; 0 when not given), appending a line to `warnings` for each thing
// ignored or not used.
void readGsasInstrument(std::string_view text, const std::string &name, int32_t bank, pk_instrument &instrument,
                        pk_profile &profile, double &difB, std::string &warnings);

}  // namespace powderkit::phase

#endif
