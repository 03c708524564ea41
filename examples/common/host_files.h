/* Small file helpers of the example hosts. */
#ifndef EXAMPLES_HOST_FILES_H
#define EXAMPLES_HOST_FILES_H

#include <stdbool.h>
#include <stddef.h>

/* Creates the folder (and its parents) unless it exists. */
bool makeFolder(const char *path);

/* buffer = directory/name; false when it does not fit. */
bool joinPath(char *buffer, size_t size, const char *directory, const char *name);

/* The whole file as a NUL-terminated text (release with free), or NULL. */
char *readWholeFile(const char *path);

/* Two columns "x y" per line, with a comment header; false on failure. */
bool writeTwoColumns(const char *path, const char *header, const double *x, const double *y,
                     int count);

/* Reads a two-column pattern (x y per line; '#', '!' and ';' start comments;
 * extra columns are ignored). *x and *y are new arrays (release with free). */
bool readTwoColumns(const char *path, double **x, double **y, int *count);

#endif
