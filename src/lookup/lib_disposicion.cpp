#include "lookup/lib_disposicion.h"

#include <algorithm>
#include <cmath>

double RedondeoPar(double v) {
    const double piso = std::floor(v);
    const double resto = v - piso;
    if (resto > 0.5) return piso + 1;
    if (resto < 0.5) return piso;
    return std::fmod(piso, 2.0) == 0.0 ? piso : piso + 1;
}

AnchosCarga CalcularAnchos(const std::vector<double>& izquierdas, const std::vector<double>& anchos,
                           bool usaCantidades, double anchoPantalla) {
    AnchosCarga r;
    const std::size_t columnas = std::min(izquierdas.size(), anchos.size());
    std::size_t n = columnas;
    if (usaCantidades && n > 0) --n;
    for (std::size_t i = 0; i < n; ++i) {
        r.cajas.push_back({izquierdas[i], 0, anchos[i] - 50, 0});
        r.total += anchos[i];
    }
    if (usaCantidades && columnas > 0) r.total += anchos[columnas - 1];
    r.anchoLista = r.total + 360;
    r.anchoPicFields = RedondeoPar(r.total) + 360;
    r.anchoHScroll = r.total;
    r.anchoDialogo = (r.anchoLista + 360 < anchoPantalla) ? r.anchoLista + 280 : anchoPantalla - 480;
    return r;
}

void Redimensionar(Disposicion& d, double ancho, double alto) {
    auto medida = [](double& destino, double valor) {
        if (valor >= 0) destino = valor;
    };
    medida(d.picFields.Height, alto - d.Frame1.Height - 480);
    medida(d.ListView1.Height, d.picFields.Height - d.Frame1.Height - 600);
    medida(d.picFields.Width, ancho - 120);
    medida(d.ListView1.Width, d.picFields.Width - 20);
    d.Frame1.Top = alto - d.Frame1.Height - 420;
    d.HScroll1.Top = d.picFields.Height - d.HScroll1.Height - 120;
    medida(d.HScroll1.Width, ancho - 120);
    d.Frame1.Left = ancho / 2 - d.Frame1.Width / 2;
}
