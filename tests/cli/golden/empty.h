const unsigned char empty[] = {
};
