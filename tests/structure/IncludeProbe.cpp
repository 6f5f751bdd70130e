// Compiled only by the structure tests, as a file of the folder whose library
// the probe links: KM808_PROBE_HEADER names the header it includes.
#include KM808_PROBE_HEADER

int main() {
    return 0;
}
