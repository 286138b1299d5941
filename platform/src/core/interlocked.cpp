// Interlocked operations: sequentially consistent atomic read-modify-write on
// naturally aligned variables, each returning what Windows returns (the new
// value for increment and decrement, the previous value otherwise).

#include <windows.h>

EXTERN_C LONG WINAPI InterlockedIncrement(LONG volatile *Addend) {
    return __atomic_add_fetch(Addend, 1, __ATOMIC_SEQ_CST);
}

EXTERN_C LONG WINAPI InterlockedDecrement(LONG volatile *Addend) {
    return __atomic_sub_fetch(Addend, 1, __ATOMIC_SEQ_CST);
}

EXTERN_C LONG WINAPI InterlockedExchange(LONG volatile *Target, LONG Value) {
    return __atomic_exchange_n(Target, Value, __ATOMIC_SEQ_CST);
}

EXTERN_C LONG WINAPI InterlockedExchangeAdd(LONG volatile *Addend, LONG Value) {
    return __atomic_fetch_add(Addend, Value, __ATOMIC_SEQ_CST);
}

EXTERN_C LONG WINAPI InterlockedCompareExchange(LONG volatile *Destination, LONG Exchange,
                                                LONG Comparand) {
    __atomic_compare_exchange_n(Destination, &Comparand, Exchange, false, __ATOMIC_SEQ_CST,
                                __ATOMIC_SEQ_CST);
    return Comparand;  // on failure it holds the value found
}

EXTERN_C PVOID WINAPI InterlockedExchangePointer(PVOID volatile *Target, PVOID Value) {
    return __atomic_exchange_n(Target, Value, __ATOMIC_SEQ_CST);
}

EXTERN_C PVOID WINAPI InterlockedCompareExchangePointer(PVOID volatile *Destination,
                                                        PVOID Exchange, PVOID Comparand) {
    __atomic_compare_exchange_n(Destination, &Comparand, Exchange, false, __ATOMIC_SEQ_CST,
                                __ATOMIC_SEQ_CST);
    return Comparand;
}

EXTERN_C LONGLONG WINAPI InterlockedIncrement64(LONGLONG volatile *Addend) {
    return __atomic_add_fetch(Addend, 1, __ATOMIC_SEQ_CST);
}

EXTERN_C LONGLONG WINAPI InterlockedDecrement64(LONGLONG volatile *Addend) {
    return __atomic_sub_fetch(Addend, 1, __ATOMIC_SEQ_CST);
}

EXTERN_C LONGLONG WINAPI InterlockedExchange64(LONGLONG volatile *Target, LONGLONG Value) {
    return __atomic_exchange_n(Target, Value, __ATOMIC_SEQ_CST);
}

EXTERN_C LONGLONG WINAPI InterlockedCompareExchange64(LONGLONG volatile *Destination,
                                                      LONGLONG Exchange, LONGLONG Comparand) {
    __atomic_compare_exchange_n(Destination, &Comparand, Exchange, false, __ATOMIC_SEQ_CST,
                                __ATOMIC_SEQ_CST);
    return Comparand;
}
