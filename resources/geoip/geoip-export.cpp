// relayvane-geoip-export CSV_DIR OUT_DIR: turns ip.csv and cc.csv into ip.db and cc.db, the two
// country database resources, with the program's own import and export. The build runs it.

#include "geoip/CountryDatabase.h"
#include "platform/SysUtils.h"

#include <QString>
#include <cstdio>

int main(int argc, char **argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: relayvane-geoip-export CSV_DIR OUT_DIR\n");
        return 2;
    }
    try {
        TCountryDatabase db;
        db.DatabaseFromCSV(QString::fromLocal8Bit(argv[1]));
        db.SaveDatabase(QString::fromLocal8Bit(argv[2]));
    } catch (const Exception &e) {
        std::fprintf(stderr, "relayvane-geoip-export: %s\n", e.what());
        return 1;
    }
    return 0;
}
