/* The probe the package's objects are written like: the compiler's own object for one array. */
const unsigned char vormesta_probe[1] = {1};
