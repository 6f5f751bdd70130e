/* A client of the installed libraries, built only with what pkg-config says:
 * the headers compile as C and the private libraries are found at run time. */
#include <km808api.h>
#include <qiraapi.h>
#include <stdio.h>

int main(void) {
    CrateControl crate;
    KM808_CONTROL module;
    if (QIRA_Init(&crate) != 0 || KM808_Init(&module) != 0) {
        fprintf(stderr, "QIRA_Init or KM808_Init failed\n");
        return 1;
    }
    return 0;
}
