// SPDX-License-Identifier: BSD-3-Clause
/*
 * One acquisition cycle of the sensor group, call for call, timed: init with
 * the default configuration, the first chip whose prefix holds "vlmhwmon",
 * label and input of every voltage, temperature and current feature,
 * cleanup. Prints the features read, the CPU seconds per cycle, then each
 * cycle's wall-clock seconds.
 *
 * Usage: sensor_cycle [CYCLES]   (default 100)
 */
#include <sensors/sensors.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

static double now(clockid_t clock)
{
    struct timespec t;
    clock_gettime(clock, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

int main(int argc, char **argv)
{
    int cycles = argc > 1 ? atoi(argv[1]) : 100, features = 0;
    double *wall = calloc(cycles, sizeof *wall);
    double cpu0 = now(CLOCK_PROCESS_CPUTIME_ID);
    for (int i = 0; i < cycles; i++) {
        double t0 = now(CLOCK_MONOTONIC);
        if (sensors_init(NULL) != 0) {
            fprintf(stderr, "sensors_init failed\n");
            return 1;
        }
        const sensors_chip_name *chip;
        int chip_nr = 0;
        features = 0;
        while ((chip = sensors_get_detected_chips(NULL, &chip_nr))) {
            if (!strstr(chip->prefix, "vlmhwmon"))
                continue;
            const sensors_feature *feature;
            int feature_nr = 0;
            while ((feature = sensors_get_features(chip, &feature_nr))) {
                sensors_subfeature_type input;
                switch (feature->type) {
                case SENSORS_FEATURE_IN: input = SENSORS_SUBFEATURE_IN_INPUT; break;
                case SENSORS_FEATURE_TEMP: input = SENSORS_SUBFEATURE_TEMP_INPUT; break;
                case SENSORS_FEATURE_CURR: input = SENSORS_SUBFEATURE_CURR_INPUT; break;
                default: continue;
                }
                free(sensors_get_label(chip, feature));
                const sensors_subfeature *sub = sensors_get_subfeature(chip, feature, input);
                double value;
                if (sub)
                    sensors_get_value(chip, sub->number, &value);
                features++;
            }
            break;
        }
        sensors_cleanup();
        wall[i] = now(CLOCK_MONOTONIC) - t0;
    }
    printf("%d %.9f", features, (now(CLOCK_PROCESS_CPUTIME_ID) - cpu0) / cycles);
    for (int i = 0; i < cycles; i++)
        printf(" %.9f", wall[i]);
    printf("\n");
    free(wall);
    return 0;
}
