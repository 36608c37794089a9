// Checked integers of fixed width: Integer (16-bit) and Long (32-bit). Any
// arithmetic or assignment that leaves the range raises run-time error 6
// "Overflow", so the limits of the on-disk counters hold as designed.
// Flags are Integer with -1 for true and 0 for false.
#pragma once

#include <concepts>
#include <cstdint>
#include <limits>
#include <type_traits>
#include <utility>

#include "runtime/run_error.h"

namespace vr {

template <typename Rep>
class Checked {
 public:
  using rep = Rep;
  constexpr Checked() = default;
  template <std::integral T>
  constexpr Checked(T value) : v_(Narrow(value)) {}  // NOLINT: implicit by design
  template <typename R>
  constexpr Checked(Checked<R> other) : v_(Narrow(other.Value())) {}  // NOLINT

  constexpr Rep Value() const { return v_; }
  constexpr operator Rep() const { return v_; }  // NOLINT: used as a plain number

  template <std::integral T>
  static constexpr Rep Narrow(T value) {
    if (!std::in_range<Rep>(value)) Raise(kErrOverflow);
    return static_cast<Rep>(value);
  }

  Checked& operator+=(Checked o) { return *this = *this + o; }
  Checked& operator-=(Checked o) { return *this = *this - o; }
  Checked& operator*=(Checked o) { return *this = *this * o; }
  Checked& operator/=(Checked o) { return *this = *this / o; }
  Checked& operator++() { return *this = *this + Checked(1); }
  Checked& operator--() { return *this = *this - Checked(1); }
  Checked operator-() const { return Checked(-static_cast<int64_t>(v_)); }
  Checked operator~() const { return Checked(static_cast<Rep>(~v_)); }

 private:
  Rep v_ = 0;
};

using Integer = Checked<int16_t>;
using Long = Checked<int32_t>;

constexpr Integer kTrue = -1;
constexpr Integer kFalse = 0;
inline constexpr Integer Flag(bool b) { return b ? kTrue : kFalse; }

template <typename T>
struct IsChecked : std::false_type {};
template <typename R>
struct IsChecked<Checked<R>> : std::true_type {};
template <typename T>
concept CheckedInt = IsChecked<T>::value;
template <typename T>
concept Operand = CheckedInt<T> || std::integral<T>;

namespace detail {
template <typename T>
constexpr int64_t Wide(T v) {
  if constexpr (CheckedInt<T>)
    return v.Value();
  else
    return static_cast<int64_t>(v);
}
// The result of mixing two operands: the wider checked type; a plain integer
// takes the width of the checked operand it meets.
template <typename A, typename B>
struct Result;
template <typename RA, typename RB>
struct Result<Checked<RA>, Checked<RB>> {
  using type = Checked<std::conditional_t<(sizeof(RA) >= sizeof(RB)), RA, RB>>;
};
template <typename RA, std::integral B>
struct Result<Checked<RA>, B> {
  using type = Checked<RA>;
};
template <std::integral A, typename RB>
struct Result<A, Checked<RB>> {
  using type = Checked<RB>;
};
template <typename A, typename B>
using ResultT = typename Result<A, B>::type;
}  // namespace detail

template <Operand A, Operand B>
requires(CheckedInt<A> || CheckedInt<B>) constexpr auto operator+(A a, B b) {
  return detail::ResultT<A, B>(detail::Wide(a) + detail::Wide(b));
}
template <Operand A, Operand B>
requires(CheckedInt<A> || CheckedInt<B>) constexpr auto operator-(A a, B b) {
  return detail::ResultT<A, B>(detail::Wide(a) - detail::Wide(b));
}
template <Operand A, Operand B>
requires(CheckedInt<A> || CheckedInt<B>) constexpr auto operator*(A a, B b) {
  return detail::ResultT<A, B>(detail::Wide(a) * detail::Wide(b));
}
// Integer division, truncating toward zero (the classic "\" operator).
template <Operand A, Operand B>
requires(CheckedInt<A> || CheckedInt<B>) constexpr auto operator/(A a, B b) {
  if (detail::Wide(b) == 0) Raise(kErrDivisionByZero);
  return detail::ResultT<A, B>(detail::Wide(a) / detail::Wide(b));
}
template <Operand A, Operand B>
requires(CheckedInt<A> || CheckedInt<B>) constexpr auto operator%(A a, B b) {
  if (detail::Wide(b) == 0) Raise(kErrDivisionByZero);
  return detail::ResultT<A, B>(detail::Wide(a) % detail::Wide(b));
}
template <Operand A, Operand B>
requires(CheckedInt<A> || CheckedInt<B>) constexpr auto operator&(A a, B b) {
  return detail::ResultT<A, B>(detail::Wide(a) & detail::Wide(b));
}
template <Operand A, Operand B>
requires(CheckedInt<A> || CheckedInt<B>) constexpr auto operator|(A a, B b) {
  using R = detail::ResultT<A, B>;
  using U = std::make_unsigned_t<typename R::rep>;
  // Bitwise or on the two's-complement pattern of the result width.
  return R(static_cast<typename R::rep>(static_cast<U>(detail::Wide(a)) |
                                        static_cast<U>(detail::Wide(b))));
}
template <Operand A, Operand B>
requires(CheckedInt<A> || CheckedInt<B>) constexpr bool operator==(A a, B b) {
  return detail::Wide(a) == detail::Wide(b);
}
template <Operand A, Operand B>
requires(CheckedInt<A> || CheckedInt<B>) constexpr auto operator<=>(A a, B b) {
  return detail::Wide(a) <=> detail::Wide(b);
}

}  // namespace vr
