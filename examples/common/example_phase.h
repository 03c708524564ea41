/* The example hosts' crystals: read from the CIF files of examples/data by the
 * phase layer and handed over as the core's records. */
#ifndef EXAMPLES_EXAMPLE_PHASE_H
#define EXAMPLES_EXAMPLE_PHASE_H

#include <stdbool.h>

#include "powderkit.h"
#include "powderkit_phase.h"

/* The folder of the CIF files when no --data option names another: the
 * source tree's examples/data, compiled in, so the programs run from any
 * directory. */
#ifndef PK_EXAMPLE_DATA_DIR
#define PK_EXAMPLE_DATA_DIR "examples/data"
#endif

/* Reads folder/name.cif (folder NULL: PK_EXAMPLE_DATA_DIR) into *phase and
 * makes *crystal from it, with one reflexion per set of equivalent planes down
 * to dMin (none when dMin is 0). Free the crystal before the phase: its
 * operators' texts belong to the phase. False, with the layer's message on
 * stderr and both set to NULL, on failure. */
bool loadExampleCrystal(const char *folder, const char *name, double dMin, pk_phase **phase,
                        RefinementCrystal **crystal);

#endif
