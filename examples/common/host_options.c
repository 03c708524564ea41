/* Command-line helpers shared by the example hosts. */
#include "host_options.h"

#include <math.h>
#include <stdio.h>
#include <stdlib.h>

bool optionText(int argc, char **argv, int *index, const char **value) {
    if (*index + 1 >= argc) {
        fprintf(stderr, "%s needs a value (see --help)\n", argv[*index]);
        return false;
    }
    *index += 1;
    *value = argv[*index];
    return true;
}

bool optionNumber(int argc, char **argv, int *index, double *value) {
    const char *text = NULL;
    const char *option = argv[*index];
    if (!optionText(argc, argv, index, &text)) return false;
    char *end = NULL;
    double number = strtod(text, &end);
    if (end == text || *end != '\0' || !isfinite(number)) {
        fprintf(stderr, "%s needs a number, not \"%s\" (see --help)\n", option, text);
        return false;
    }
    *value = number;
    return true;
}
