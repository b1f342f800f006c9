// Another station of the suite writing while a purge runs: it inserts back-dated stock
// movements one by one (one unit of the article "CONCURRENTE" each), every insert waiting for
// the database as long as it takes, and appends the number of each insert to a file once it
// is committed. It stops when the stop file appears.
//
//   estacion_concurrente BASE CONFIRMADOS PARAR
#include <chrono>
#include <cstdio>
#include <sqlite3.h>
#include <string>
#include <thread>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "uso: estacion_concurrente BASE CONFIRMADOS PARAR\n");
        return 64;
    }
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(argv[1], &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        std::fprintf(stderr, "%s\n", sqlite3_errmsg(db));
        return 1;
    }
    sqlite3_busy_timeout(db, 300000);
    FILE* confirmados = std::fopen(argv[2], "a");
    if (!confirmados) return 1;
    for (long i = 1; access(argv[3], F_OK) != 0; ++i) {
        char numero[24];
        std::snprintf(numero, sizeof numero, "%08ld", i);
        const std::string sql =
            "INSERT INTO V_MV_STOCK (TC, IDCOMPROBANTE, SECUENCIA, FECHA, IDARTICULO, DESCRIPCION, IDUNIDAD, "
            "CANTIDAD, CantidadUD, IdDeposito, IdPosicion, NroSerie, NroLote, Anulado, ControladoPor) VALUES "
            "('FC', '0009" +
            std::string(numero) +
            "C', 1, '2022-06-15', 'CONCURRENTE', 'Otra estación', 'UN', 1, 0, 1, 'P1', NULL, NULL, 0, "
            "'Ventas')";
        char* error = nullptr;
        if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) == SQLITE_OK) {
            std::fprintf(confirmados, "%ld\n", i);
            std::fflush(confirmados);
        } else {
            std::fprintf(stderr, "%ld: %s\n", i, error ? error : "?");
            sqlite3_free(error);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    std::fclose(confirmados);
    sqlite3_close(db);
    return 0;
}
