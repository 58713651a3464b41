// Says on the page whether its stylesheet was applied and its image loaded, for people and for
// the headless browser that checks the example.
window.addEventListener("load", function () {
    var header = document.querySelector("header");
    var logo = document.getElementById("logo");
    var status = document.getElementById("status");
    status.textContent = "header background: " + getComputedStyle(header).backgroundColor +
        "; logo width: " + logo.naturalWidth;
    status.setAttribute("data-ready", "yes");
});
