/* File helpers of the example hosts: folders, paths and two-column patterns. */
#define _POSIX_C_SOURCE 200809L
#include "host_files.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/types.h>

bool makeFolder(const char *path) {
    char partial[4096];
    size_t length = strlen(path);
    if (length == 0 || length >= sizeof partial) return false;
    memcpy(partial, path, length + 1);
    for (size_t i = 1; i <= length; i++) {
        if (partial[i] != '/' && partial[i] != '\0') continue;
        char saved = partial[i];
        partial[i] = '\0';
        if (mkdir(partial, 0777) != 0 && errno != EEXIST) {
            fprintf(stderr, "cannot create the folder %s: %s\n", partial, strerror(errno));
            return false;
        }
        partial[i] = saved;
    }
    struct stat info;
    return stat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

bool joinPath(char *buffer, size_t size, const char *directory, const char *name) {
    int written = snprintf(buffer, size, "%s/%s", directory, name);
    return written > 0 && (size_t)written < size;
}

char *readWholeFile(const char *path) {
    FILE *file = fopen(path, "rb");
    if (file == NULL) return NULL;
    size_t capacity = 65536, length = 0;
    char *text = malloc(capacity);
    while (text != NULL) {
        size_t got = fread(text + length, 1, capacity - length - 1, file);
        length += got;
        if (length + 1 < capacity) break;
        capacity *= 2;
        char *bigger = realloc(text, capacity);
        if (bigger == NULL) {
            free(text);
            text = NULL;
        } else {
            text = bigger;
        }
    }
    fclose(file);
    if (text != NULL) text[length] = '\0';
    return text;
}

bool writeTwoColumns(const char *path, const char *header, const double *x, const double *y,
                     int count) {
    FILE *file = fopen(path, "w");
    if (file == NULL) {
        fprintf(stderr, "cannot write %s: %s\n", path, strerror(errno));
        return false;
    }
    if (header != NULL) fputs(header, file);
    for (int i = 0; i < count; i++) fprintf(file, "%.6f %.6f\n", x[i], y[i]);
    return fclose(file) == 0;
}

bool readTwoColumns(const char *path, double **xOut, double **yOut, int *countOut) {
    char *text = readWholeFile(path);
    if (text == NULL) {
        fprintf(stderr, "cannot read %s\n", path);
        return false;
    }
    int capacity = 1;
    for (const char *p = text; *p != '\0'; p++) capacity += (*p == '\n');
    double *x = malloc((size_t)capacity * sizeof *x);
    double *y = malloc((size_t)capacity * sizeof *y);
    int count = 0;
    if (x != NULL && y != NULL) {
        for (char *line = text; line != NULL && *line != '\0';) {
            char *next = strchr(line, '\n');
            if (next != NULL) *next++ = '\0';
            char *end1 = NULL, *end2 = NULL;
            double a = strtod(line, &end1);
            if (end1 != line) {
                double b = strtod(end1, &end2);
                if (end2 != end1 && count < capacity) {
                    x[count] = a;
                    y[count] = b;
                    count += 1;
                }
            }
            line = next;
        }
    }
    free(text);
    if (x == NULL || y == NULL || count == 0) {
        free(x);
        free(y);
        fprintf(stderr, "no x y pairs in %s\n", path);
        return false;
    }
    *xOut = x;
    *yOut = y;
    *countOut = count;
    return true;
}
