// Velmora: dense optical flow between two grey images, estimated
// coarse-to-fine with Bayesian estimation of the model's hyper-parameters.
int main() { return 0; }
