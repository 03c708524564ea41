/* Reading the element table that the library writes with load(): every line
 * that does not start with '!' is one species, "symbol Z weight a1 b1 a2 b2 a3
 * b3 a4 b4 c b [note]", separated by spaces or tabs. */
#include "element_table.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "host_files.h"

static char *nextToken(char **cursor) {
    char *p = *cursor;
    while (*p == ' ' || *p == '\t') p++;
    if (*p == '\0') {
        *cursor = p;
        return NULL;
    }
    char *start = p;
    while (*p != '\0' && *p != ' ' && *p != '\t') p++;
    if (*p != '\0') *p++ = '\0';
    *cursor = p;
    return start;
}

static bool parseRow(char *line, ElementEntry *entry) {
    char *cursor = line;
    char *symbol = nextToken(&cursor);
    if (symbol == NULL || strlen(symbol) >= sizeof entry->symbol) return false;
    strcpy(entry->symbol, symbol);
    double numbers[12];
    for (int i = 0; i < 12; i++) {
        char *token = nextToken(&cursor);
        char *end = NULL;
        if (token == NULL) return false;
        numbers[i] = strtod(token, &end);
        if (end == token || *end != '\0') return false;
    }
    /* numbers: Z, weight, nine coefficients, b */
    memcpy(entry->coefficients, numbers + 2, sizeof entry->coefficients);
    entry->scatteringLength = numbers[11];
    return true;
}

bool parseElementTable(const char *text, ElementTable *table) {
    table->count = 0;
    table->entries = NULL;
    size_t length = strlen(text);
    char *copy = malloc(length + 1);
    if (copy == NULL) return false;
    memcpy(copy, text, length + 1);

    int capacity = 0;
    for (const char *p = text; *p != '\0'; p++) capacity += (*p == '\n');
    table->entries = calloc((size_t)capacity + 1, sizeof *table->entries);
    if (table->entries == NULL) {
        free(copy);
        return false;
    }
    for (char *line = strtok(copy, "\r\n"); line != NULL; line = strtok(NULL, "\r\n")) {
        if (line[0] == '!' || line[0] == '\0') continue;
        if (table->count <= capacity && parseRow(line, &table->entries[table->count])) {
            table->count += 1;
        }
    }
    free(copy);
    return table->count > 0;
}

bool readElementTable(const char *directory, ElementTable *table) {
    char path[4096];
    load(directory);
    if (!joinPath(path, sizeof path, directory, "ASF.dat")) return false;
    char *text = readWholeFile(path);
    if (text == NULL) {
        fprintf(stderr, "cannot read the element table %s\n", path);
        return false;
    }
    bool ok = parseElementTable(text, table);
    free(text);
    if (!ok) fprintf(stderr, "no element rows in %s\n", path);
    return ok;
}

const ElementEntry *findElement(const ElementTable *table, const char *symbol) {
    for (int i = 0; i < table->count; i++) {
        if (strcmp(table->entries[i].symbol, symbol) == 0) return &table->entries[i];
    }
    return NULL;
}

RefinementAtomicScatteringFactor *scatteringFactorForElement(const ElementTable *table,
                                                             const char *symbol) {
    const ElementEntry *entry = findElement(table, symbol);
    if (entry == NULL) return NULL;
    RefinementAtomicScatteringFactor *record = makeRefinementAtomicScatteringFactor();
    if (record == NULL) return NULL;
    memcpy(record->cromerMannCoefficients, entry->coefficients,
           sizeof record->cromerMannCoefficients);
    record->hasCromerMannCoefficients = 1;
    record->scatteringLength = entry->scatteringLength;
    record->hasNeutronScatteringLength = 1;
    return record;
}

void freeElementTable(ElementTable *table) {
    free(table->entries);
    table->entries = NULL;
    table->count = 0;
}
