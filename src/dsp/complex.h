// The library's one value type: a complex number of two doubles.
#pragma once

struct Complex {
    double re;
    double im;
};

inline Complex operator*(Complex a, Complex b) {
    return {a.re * b.re - a.im * b.im, a.re * b.im + a.im * b.re};
}

inline Complex operator/(Complex a, float f) { return {a.re / f, a.im / f}; }

inline Complex operator+(Complex a, Complex b) { return {a.re + b.re, a.im + b.im}; }
