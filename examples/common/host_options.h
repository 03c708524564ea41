/* Reading numbers from the command line. */
#ifndef EXAMPLES_HOST_OPTIONS_H
#define EXAMPLES_HOST_OPTIONS_H

#include <stdbool.h>

/* The number after option argv[*index] (which is advanced past it); false
 * with a message when it is missing or not a number. */
bool optionNumber(int argc, char **argv, int *index, double *value);

/* The text after option argv[*index]; false with a message when missing. */
bool optionText(int argc, char **argv, int *index, const char **value);

#endif
