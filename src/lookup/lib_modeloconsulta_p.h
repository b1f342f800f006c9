#pragma once
// What the lookup list's model and its loading share: reading a cell's stored length and
// stable radix sorts of row numbers by 64-bit pieces of their keys.
#include "lookup/lib_modeloconsulta.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace interno {

// A stored cell's length, written before its bytes (seven bits a byte, the high bit set when
// more follow); `p` is left on the bytes.
inline std::size_t leerLargo(const unsigned char*& p) {
    std::size_t v = 0;
    for (int desplazar = 0;; desplazar += 7) {
        const unsigned char b = *p++;
        v |= std::size_t(b & 0x7F) << desplazar;
        if (!(b & 0x80)) return v;
    }
}

// The runs of two or more rows of filas[desde, hasta) with equal keys, added to `destino`.
template <typename Tramo, typename Clave>
void agregarTramos(const std::uint32_t* filas, std::size_t desde, std::size_t hasta, const Clave& clave,
                   std::vector<Tramo>& destino) {
    std::size_t i = desde;
    while (i < hasta) {
        const std::uint64_t ki = clave(filas[i]);
        std::size_t j = i + 1;
        while (j < hasta && clave(filas[j]) == ki)
            ++j;
        if (j - i > 1) destino.push_back({i, j});
        i = j;
    }
}

struct Par {
    std::uint64_t clave;
    std::uint32_t fila;
};

// Scratch space of one sort.
struct Auxiliares {
    ArregloPlano<std::uint32_t> filas;
    ArregloPlano<Par> pares, otros;
};

// Stable LSD radix sort by `clave` of elements whose key `de` gives: one pass per digit of
// `bits` bits, skipping the digits every key shares. Returns where the result ended (a or
// auxiliar).
template <typename T, typename De>
T* radix(T* a, T* auxiliar, std::size_t n, int bits, std::uint32_t* cuentas, const De& de) {
    const int digitos = 64 / bits;
    const std::size_t cubos = std::size_t(1) << bits;
    const std::uint64_t mascara = cubos - 1;
    std::uint64_t o = 0, y = ~std::uint64_t(0);
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint64_t k = de(a[i]);
        o |= k;
        y &= k;
        for (int d = 0; d < digitos; ++d)
            ++cuentas[std::size_t(d) * cubos + ((k >> (bits * d)) & mascara)];
    }
    T* origen = a;
    T* destino = auxiliar;
    for (int d = 0; d < digitos && o != y; ++d) {
        if (((o ^ y) >> (bits * d) & mascara) == 0) continue;
        std::uint32_t* c = cuentas + std::size_t(d) * cubos;
        std::uint32_t suma = 0;
        for (std::size_t v = 0; v < cubos; ++v) {
            const std::uint32_t t = c[v];
            c[v] = suma;
            suma += t;
        }
        for (std::size_t i = 0; i < n; ++i)
            destino[c[(de(origen[i]) >> (bits * d)) & mascara]++] = origen[i];
        std::swap(origen, destino);
    }
    return origen;
}

// Stable sort of stored-row numbers by a 64-bit key read through `clave`. Runs of up to 64 Ki
// rows gather their keys next to the row numbers first (the key of a row is then read once);
// longer ones move row numbers only, with 16-bit digits, so the extra memory of a big sort
// stays at four bytes a row.
template <typename Clave>
void ordenarPorClave(std::uint32_t* a, std::size_t n, Auxiliares& aux, const Clave& clave) {
    if (n < 2) return;
    if (n <= (std::size_t(1) << 16)) {
        aux.pares.resize(std::max(aux.pares.size(), n));
        Par* p = aux.pares.data();
        for (std::size_t i = 0; i < n; ++i)
            p[i] = {clave(a[i]), a[i]};
        Par* r = p;
        if (n < 48) {
            for (std::size_t i = 1; i < n; ++i) {
                const Par x = p[i];
                std::size_t j = i;
                while (j > 0 && p[j - 1].clave > x.clave) {
                    p[j] = p[j - 1];
                    --j;
                }
                p[j] = x;
            }
        } else {
            aux.otros.resize(std::max(aux.otros.size(), n));
            std::uint32_t cuentas[8 * 256] = {};
            r = radix(p, aux.otros.data(), n, 8, cuentas, [](const Par& x) { return x.clave; });
        }
        for (std::size_t i = 0; i < n; ++i)
            a[i] = r[i].fila;
        return;
    }
    aux.filas.resize(std::max(aux.filas.size(), n));
    std::vector<std::uint32_t> cuentas(4 * (std::size_t(1) << 16), 0);
    std::uint32_t* r = radix(a, aux.filas.data(), n, 16, cuentas.data(), clave);
    if (r != a) std::memcpy(a, r, n * sizeof(std::uint32_t));
}

} // namespace interno
